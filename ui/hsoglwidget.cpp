#include "hsoglwidget.h"

#include <QSurfaceFormat>

namespace {
constexpr int depthBits = 24;
constexpr int stencilBits = 8;
constexpr int glMajor = 2;
constexpr int glMinor = 0;
} // namespace

HSOGLWidget::HSOGLWidget(QWidget* parent)
    : QOpenGLWidget(parent) {
    // The framebuffer keeps its content between frames; every frame is drawn whole anyway.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);

    QSurfaceFormat format;
    format.setDepthBufferSize(depthBits);
    format.setStencilBufferSize(stencilBits);
    format.setSamples(0);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setStereo(false);
    format.setRedBufferSize(0);
    format.setGreenBufferSize(0);
    format.setBlueBufferSize(0);
    format.setAlphaBufferSize(0);
    format.setSwapInterval(0);
    format.setVersion(glMajor, glMinor);
    setFormat(format);

    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void HSOGLWidget::initializeGL() {
    initializeOpenGLFunctions();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    viewMatrix.setToIdentity();
    viewMatrix.lookAt(QVector3D(0.0f, 0.0f, 1.0f), QVector3D(0.0f, 0.0f, 0.0f),
                      QVector3D(0.0f, 1.0f, 0.0f));
}

void HSOGLWidget::resizeGL(int w, int h) {
    viewport = computeViewport(w, h, devicePixelRatioF(), aspectRatio);
    projectionMatrix.setToIdentity();
    projectionMatrix.ortho(0.0f, logicalWidth, 0.0f, logicalHeight, 1.0f, -1.0f);
    mvpMatrix = projectionMatrix * viewMatrix;
    glViewport(viewport.x, viewport.y, viewport.width, viewport.height);
}
