#pragma once

#include "oglviewport.h"

#include <QMatrix4x4>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>

// Base of the panel's OpenGL-drawn widgets: a fixed logical drawing space (origin bottom left,
// y up) letterboxed onto the widget with a fixed aspect ratio, and alpha blending.
class HSOGLWidget : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit HSOGLWidget(QWidget* parent = nullptr);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;

    float logicalWidth = 700.0f;
    float logicalHeight = 100.0f;
    float aspectRatio = 1.0f / 7.0f; // height over width
    GLViewport viewport;
    QMatrix4x4 projectionMatrix;
    QMatrix4x4 viewMatrix;
    QMatrix4x4 mvpMatrix;
};
