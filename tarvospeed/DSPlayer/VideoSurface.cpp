#include "VideoSurface.h"

#include <mpv/render_gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace {

void* gl_proc_address(void*, const char* name) {
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    return ctx ? reinterpret_cast<void*>(ctx->getProcAddress(name)) : nullptr;
}

}  // namespace

TVideoSurface::TVideoSurface(QWidget* parent) : QOpenGLWidget(parent) {}

TVideoSurface::~TVideoSurface() { Detach(); }

void TVideoSurface::Attach(mpv_handle* mpv) {
    mpv_ = mpv;
    if (context()) {
        makeCurrent();
        CreateRenderContext();
        doneCurrent();
    }
}

void TVideoSurface::Detach() {
    if (render_) {
        makeCurrent();
        mpv_render_context_free(render_);
        render_ = nullptr;
        doneCurrent();
    }
    mpv_ = nullptr;
}

bool TVideoSurface::MakeReady() {
    if (render_) return true;
    // The GL context of a QOpenGLWidget appears with its first non-empty
    // size on screen; a grab forces it on a widget that is shown but has not
    // been painted yet.
    if (!context() && isVisible() && !size().isEmpty()) grabFramebuffer();
    if (!render_ && context() && mpv_) {
        makeCurrent();
        CreateRenderContext();
        doneCurrent();
    }
    return render_ != nullptr;
}

void TVideoSurface::initializeGL() { CreateRenderContext(); }

void TVideoSurface::CreateRenderContext() {
    if (render_ || !mpv_) return;
    mpv_opengl_init_params gl{gl_proc_address, nullptr};
    int advanced = 0;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advanced},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, mpv_, params) < 0) {
        render_ = nullptr;
        return;
    }
    mpv_render_context_set_update_callback(render_, &TVideoSurface::OnUpdate, this);
}

void TVideoSurface::OnUpdate(void* self) {
    // Called on one of mpv's threads: only queue a repaint.
    auto* surface = static_cast<TVideoSurface*>(self);
    QMetaObject::invokeMethod(
        surface, [surface] { surface->update(); }, Qt::QueuedConnection);
}

void TVideoSurface::paintGL() {
    if (!render_) {
        QOpenGLFunctions* f = context()->functions();
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    if (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) ++frames_drawn_;
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flip_y = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flip_y},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
}
