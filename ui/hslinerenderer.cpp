// SPDX-License-Identifier: GPL-3.0-or-later

#include "hslinerenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace {
const char* const vertexSource = "attribute vec2 aPosition;\n"
                                 "attribute vec3 aColor;\n"
                                 "uniform mat4 uMvpMatrix;\n"
                                 "varying vec3 vColor;\n"
                                 "void main()\n"
                                 "{\n"
                                 "    vColor = aColor;\n"
                                 "    gl_Position = uMvpMatrix * vec4(aPosition, 0.0, 1.0);\n"
                                 "}\n";

const char* const fragmentSource = "#ifdef GL_ES\n"
                                   "precision mediump float;\n"
                                   "#endif\n"
                                   "varying vec3 vColor;\n"
                                   "void main()\n"
                                   "{\n"
                                   "    gl_FragColor = vec4(vColor, 1.0);\n"
                                   "}\n";

// Two triangles per line, each vertex a position and a colour.
constexpr int positionComponents = 2;
constexpr int colorComponents = 3;
constexpr int vertexComponents = positionComponents + colorComponents;
constexpr int verticesPerLine = 6;
} // namespace

HSLineRenderer::HSLineRenderer() {
    // A shader that does not build leaves the program unbindable, and drawLines then draws nothing.
    program.addShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource);
    program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource);
    program.link();
    positionLocation = program.attributeLocation("aPosition");
    colorLocation = program.attributeLocation("aColor");
    mvpLocation = program.uniformLocation("uMvpMatrix");
    vertexBuffer.create();
    vertexBuffer.setUsagePattern(QOpenGLBuffer::StreamDraw);
}

void HSLineRenderer::setProjection(const QMatrix4x4& m) {
    projection = m;
}

void HSLineRenderer::drawLines(const QVector<HSLine>& lines) {
    if (lines.isEmpty() || !program.bind())
        return;
    vertices.resize(lines.size() * verticesPerLine * vertexComponents);
    float* out = vertices.data();
    for (const HSLine& line : lines) {
        // The line's sides lie half its width either side of it.
        const QVector2D along = (line.to - line.from).normalized();
        const QVector2D side = QVector2D(-along.y(), along.x()) * (line.width * 0.5f);
        const QVector2D corners[verticesPerLine] = {line.from - side, line.to - side,
                                                    line.from + side, line.to - side,
                                                    line.to + side,   line.from + side};
        for (const QVector2D& corner : corners) {
            *out++ = corner.x();
            *out++ = corner.y();
            *out++ = line.color.x();
            *out++ = line.color.y();
            *out++ = line.color.z();
        }
    }
    program.setUniformValue(mvpLocation, projection);
    vertexBuffer.bind();
    vertexBuffer.allocate(vertices.constData(), vertices.size() * int(sizeof(float)));
    const int stride = vertexComponents * int(sizeof(float));
    program.enableAttributeArray(positionLocation);
    program.enableAttributeArray(colorLocation);
    program.setAttributeBuffer(positionLocation, GL_FLOAT, 0, positionComponents, stride);
    program.setAttributeBuffer(colorLocation, GL_FLOAT, positionComponents * int(sizeof(float)),
                               colorComponents, stride);
    QOpenGLContext::currentContext()->functions()->glDrawArrays(GL_TRIANGLES, 0,
                                                                lines.size() * verticesPerLine);
    program.disableAttributeArray(colorLocation);
    program.disableAttributeArray(positionLocation);
    vertexBuffer.release();
    program.release();
}
