// SPDX-License-Identifier: GPL-3.0-or-later

#include "hstexturedquadrenderer.h"

#include "unitsquare.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLTexture>

namespace {
const char* const vertexSource = "attribute vec2 aPosition;\n"
                                 "attribute vec2 aTexCoord;\n"
                                 "uniform mat4 uMvpMatrix;\n"
                                 "varying vec2 vTexCoord;\n"
                                 "void main()\n"
                                 "{\n"
                                 "    gl_Position = uMvpMatrix * vec4(aPosition, 0.0, 1.0);\n"
                                 "    vTexCoord = aTexCoord;\n"
                                 "}\n";

const char* const fragmentSource = "#ifdef GL_ES\n"
                                   "precision mediump float;\n"
                                   "#endif\n"
                                   "varying vec2 vTexCoord;\n"
                                   "uniform sampler2D uSampler;\n"
                                   "void main()\n"
                                   "{\n"
                                   "    gl_FragColor = texture2D(uSampler, vTexCoord);\n"
                                   "}\n";

void fillStatic(QOpenGLBuffer& buffer, const void* data, int bytes) {
    buffer.create();
    buffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
    buffer.bind();
    buffer.allocate(data, bytes);
    buffer.release();
}
} // namespace

HSTexturedQuadRenderer::HSTexturedQuadRenderer() {
    program.addShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource);
    program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource);
    program.link();
    mvpLocation = program.uniformLocation("uMvpMatrix");

    fillStatic(positionBuffer, unitSquareCorners.data(),
               static_cast<int>(sizeof(unitSquareCorners)));
    fillStatic(texCoordBuffer, unitSquareTexCoords.data(),
               static_cast<int>(sizeof(unitSquareTexCoords)));
}

void HSTexturedQuadRenderer::setProjection(const QMatrix4x4& m) {
    projection = m;
}

void HSTexturedQuadRenderer::drawTexture(const QVector2D& center, const QVector2D& size,
                                         QOpenGLTexture* texture) {
    if (!texture || !program.bind())
        return;
    texture->bind();

    model.setToIdentity();
    model.translate(center.x(), center.y(), 0.0f);
    model.scale(size.x(), size.y(), 0.0f);
    mvp = projection * model;
    program.setUniformValue(mvpLocation, mvp);

    positionBuffer.bind();
    program.enableAttributeArray("aPosition");
    program.setAttributeBuffer("aPosition", GL_FLOAT, 0, unitSquareComponents);
    texCoordBuffer.bind();
    program.enableAttributeArray("aTexCoord");
    program.setAttributeBuffer("aTexCoord", GL_FLOAT, 0, unitSquareComponents);

    QOpenGLContext::currentContext()->functions()->glDrawArrays(GL_TRIANGLE_STRIP, 0,
                                                                unitSquareVertices);

    program.disableAttributeArray("aTexCoord");
    program.disableAttributeArray("aPosition");
    texCoordBuffer.release();
    texture->release();
    program.release();
}
