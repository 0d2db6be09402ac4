// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QVector2D>
#include <QVector3D>
#include <QVector>

// A straight thick line in one solid colour.
struct HSLine {
    QVector2D from;
    QVector2D to;
    QVector3D color;
    float width = 1.0f;
};

// Draws thick lines, all of one call in a single draw: with a software renderer every draw call
// costs more than the pixels of a meter's bar. Needs a current OpenGL context for construction,
// drawing and destruction.
class HSLineRenderer {
public:
    HSLineRenderer();

    void setProjection(const QMatrix4x4& m);
    void drawLines(const QVector<HSLine>& lines);

private:
    QOpenGLShaderProgram program;
    QOpenGLBuffer vertexBuffer{QOpenGLBuffer::VertexBuffer};
    QVector<float> vertices;
    int positionLocation = -1;
    int colorLocation = -1;
    int mvpLocation = -1;
    QMatrix4x4 projection;
};
