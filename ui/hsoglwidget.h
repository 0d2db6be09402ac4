// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "oglviewport.h"

#include <QImage>
#include <QMatrix4x4>
#include <QOpenGLFunctions>
#include <QWidget>

#include <memory>

class QOpenGLContext;
class QOpenGLFramebufferObject;
struct HSOffscreenGL;

// Base of the panel's OpenGL-drawn widgets: a fixed logical drawing space (origin bottom left,
// y up) letterboxed onto the widget with a fixed aspect ratio, and alpha blending. Every such
// widget draws through one offscreen OpenGL context into a framebuffer of its own and shows the
// picture as an image, so a new frame repaints only the widget itself: the window around it stays
// a plain raster window that no one re-composes through OpenGL.
class HSOGLWidget : public QWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit HSOGLWidget(QWidget* parent = nullptr);
    ~HSOGLWidget() override;

    // The picture as it is now, drawn first when it is out of date.
    QImage grabFramebuffer();

signals:
    void frameDrawn();

protected:
    virtual void initializeGL();
    virtual void resizeGL(int w, int h);
    virtual void paintGL() = 0;
    // The shared context made current, for work on this widget's OpenGL objects outside paintGL;
    // false when there is no OpenGL or the widget has not drawn yet.
    bool makeCurrent();
    void doneCurrent();

    void paintEvent(QPaintEvent* event) override;

    float logicalWidth = 700.0f;
    float logicalHeight = 100.0f;
    float aspectRatio = 1.0f / 7.0f; // height over width
    GLViewport viewport;
    QMatrix4x4 projectionMatrix;
    QMatrix4x4 viewMatrix;
    QMatrix4x4 mvpMatrix;

private:
    void draw();

    std::shared_ptr<HSOffscreenGL> gl;
    std::unique_ptr<QOpenGLFramebufferObject> framebuffer;
    QImage picture;
    bool initialized = false;
};
