// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsoglwidget.h"

#include "log.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QSurfaceFormat>

namespace {
constexpr int depthBits = 24;
constexpr int stencilBits = 8;
constexpr int glMajor = 2;
constexpr int glMinor = 0;
} // namespace

// The one context all OpenGL-drawn widgets share: a software renderer costs tens of megabytes and
// a set of threads per context, so the meters do not each get one.
struct HSOffscreenGL {
    HSOffscreenGL() {
        QSurfaceFormat format;
        format.setDepthBufferSize(depthBits);
        format.setStencilBufferSize(stencilBits);
        format.setVersion(glMajor, glMinor);
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        if (!context.create() || !context.makeCurrent(&surface))
            HSLOG(LogLevel::Error, "MainWindow")
                << "OpenGL is not available: the meters stay blank";
    }
    ~HSOffscreenGL() { context.doneCurrent(); }

    static std::shared_ptr<HSOffscreenGL> shared() {
        static std::weak_ptr<HSOffscreenGL> current;
        std::shared_ptr<HSOffscreenGL> gl = current.lock();
        if (!gl)
            current = gl = std::make_shared<HSOffscreenGL>();
        return gl;
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
};

HSOGLWidget::HSOGLWidget(QWidget* parent)
    : QWidget(parent) {
    // Every frame covers the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

// The framebuffer belongs to the shared context: it goes while that is current, before the
// context itself may go with the last widget.
HSOGLWidget::~HSOGLWidget() {
    if (makeCurrent()) {
        framebuffer.reset();
        doneCurrent();
    }
}

bool HSOGLWidget::makeCurrent() {
    return gl && gl->context.isValid() && gl->context.makeCurrent(&gl->surface);
}

void HSOGLWidget::doneCurrent() {
    gl->context.doneCurrent();
}

QImage HSOGLWidget::grabFramebuffer() {
    draw();
    return picture;
}

void HSOGLWidget::paintEvent(QPaintEvent*) {
    draw();
    QPainter painter(this);
    if (picture.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(QPoint(0, 0), picture);
}

void HSOGLWidget::draw() {
    // The context is made when a picture is first wanted: a panel started hidden loads no OpenGL.
    if (!gl)
        gl = HSOffscreenGL::shared();
    if (!makeCurrent())
        return;
    if (!initialized) {
        initializeOpenGLFunctions();
        initializeGL();
        initialized = true;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (!framebuffer || framebuffer->size() != pixels) {
        framebuffer = std::make_unique<QOpenGLFramebufferObject>(
            pixels, QOpenGLFramebufferObject::CombinedDepthStencil);
        framebuffer->bind();
        resizeGL(width(), height());
    }
    framebuffer->bind();
    paintGL();
    picture = framebuffer->toImage();
    picture.setDevicePixelRatio(ratio);
    framebuffer->release();
    doneCurrent();
    emit frameDrawn();
}

void HSOGLWidget::initializeGL() {
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
