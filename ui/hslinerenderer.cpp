#include "hslinerenderer.h"

#include "unitsquare.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuaternion>

namespace {
const char* const vertexSource = "attribute vec2 aPosition;\n"
                                 "uniform mat4 uMvpMatrix;"
                                 "void main()\n"
                                 "{\n"
                                 "    gl_Position = uMvpMatrix * vec4(aPosition, 0.0, 1.0);\n"
                                 "}\n";

const char* const fragmentSource = "#ifdef GL_ES\n"
                                   "precision mediump float;\n"
                                   "#endif\n"
                                   "uniform vec3 uColor;\n"
                                   "void main()\n"
                                   "{\n"
                                   "    gl_FragColor = vec4(uColor, 1.0);\n"
                                   "}\n";
} // namespace

HSLineRenderer::HSLineRenderer() {
    // A shader that does not build leaves the program unbindable, and drawLine then draws nothing.
    program.addShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource);
    program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource);
    program.link();
    positionLocation = program.attributeLocation("aPosition");
    mvpLocation = program.uniformLocation("uMvpMatrix");
    colorLocation = program.uniformLocation("uColor");

    vertexBuffer.create();
    vertexBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
    vertexBuffer.bind();
    vertexBuffer.allocate(unitSquareCorners.data(), static_cast<int>(sizeof(unitSquareCorners)));
    vertexBuffer.release();
}

void HSLineRenderer::setProjection(const QMatrix4x4& m) {
    projection = m;
}

void HSLineRenderer::drawLine(const QVector2D& p1, const QVector2D& p2, const QVector3D& color,
                              float width) {
    if (!program.bind())
        return;

    const QVector2D center = (p1 + p2) * 0.5f;
    const QVector3D d(p2 - p1, 0.0f);
    const float length = d.length();
    const QQuaternion rotation =
        QQuaternion::rotationTo(QVector3D(1.0f, 0.0f, 0.0f), d.normalized());

    model.setToIdentity();
    model.translate(center.x(), center.y(), 0.0f);
    model.rotate(rotation);
    model.scale(length, width, 1.0f);
    mvp = projection * model;

    program.setUniformValue(mvpLocation, mvp);
    program.setUniformValue(colorLocation, color);
    vertexBuffer.bind();
    program.enableAttributeArray(positionLocation);
    program.setAttributeBuffer(positionLocation, GL_FLOAT, 0, unitSquareComponents);
    QOpenGLContext::currentContext()->functions()->glDrawArrays(GL_TRIANGLE_STRIP, 0,
                                                                unitSquareVertices);
    program.disableAttributeArray(positionLocation);
    vertexBuffer.release();
    program.release();
}
