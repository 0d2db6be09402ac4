// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QVector2D>

class QOpenGLTexture;

// Draws a texture on an axis-aligned rectangle, the image's first row at the top. Needs a current
// OpenGL context for construction, drawing and destruction.
class HSTexturedQuadRenderer {
public:
    HSTexturedQuadRenderer();

    void setProjection(const QMatrix4x4& m);
    void drawTexture(const QVector2D& center, const QVector2D& size, QOpenGLTexture* texture);

private:
    QOpenGLShaderProgram program;
    QOpenGLBuffer positionBuffer{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer texCoordBuffer{QOpenGLBuffer::VertexBuffer};
    int mvpLocation = -1;
    QMatrix4x4 projection;
    QMatrix4x4 model;
    QMatrix4x4 mvp;
};
