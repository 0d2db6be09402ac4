#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QVector2D>
#include <QVector3D>

// Draws straight thick lines in one solid colour: a unit square moved, turned and stretched onto
// the line. Needs a current OpenGL context for construction, drawing and destruction.
class HSLineRenderer {
public:
    HSLineRenderer();

    void setProjection(const QMatrix4x4& m);
    void drawLine(const QVector2D& p1, const QVector2D& p2, const QVector3D& color, float width);

private:
    QOpenGLShaderProgram program;
    QOpenGLBuffer vertexBuffer{QOpenGLBuffer::VertexBuffer};
    int positionLocation = -1;
    int mvpLocation = -1;
    int colorLocation = -1;
    QMatrix4x4 projection;
    QMatrix4x4 model;
    QMatrix4x4 mvp;
};
