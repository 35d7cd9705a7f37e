// TVideoSurface: the OpenGL widget mpv draws the picture into (render API).
//
// Lifecycle: `Attach` the mpv core before or after the widget is first shown;
// the render context is made once both the core and the widget's GL context
// exist. `Detach` frees the render context and must come before the core is
// destroyed (TDSPlayer does it); destroying the widget detaches too. Until a
// file shows a picture the surface is black.
#pragma once

#include <QOpenGLWidget>

struct mpv_handle;
struct mpv_render_context;

class TVideoSurface : public QOpenGLWidget {
    Q_OBJECT
  public:
    explicit TVideoSurface(QWidget* parent = nullptr);
    ~TVideoSurface() override;

    void Attach(mpv_handle* mpv);
    void Detach();
    // Whether mpv can draw here now; a file opened before that plays without
    // picture, so the player makes the context first when it can.
    bool Ready() const { return render_ != nullptr; }
    // Creates the render context now when the widget is on screen.
    bool MakeReady();
    // Video frames drawn so far (repaints of the same frame not counted).
    long FramesDrawn() const { return frames_drawn_; }

  protected:
    void initializeGL() override;
    void paintGL() override;

  private:
    void CreateRenderContext();
    static void OnUpdate(void* self);

    mpv_handle* mpv_ = nullptr;
    mpv_render_context* render_ = nullptr;
    long frames_drawn_ = 0;
};
