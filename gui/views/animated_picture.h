// A small looping picture: a status glyph (48x48) or a diagram of the UPS's power path in one of
// its six modes (about 220x160), redrawn eight times a second while running. The frames are
// drawn, not loaded, so they scale with the widget.
#pragma once

#include <QTimer>
#include <QWidget>

namespace kelvora::gui {

class AnimatedPicture : public QWidget {
    Q_OBJECT

  public:
    enum class Kind {
        Earth,
        Disconnected,
        AcFail,
        BatteryLow,
        UpsBad,
        UpsAvr,
        UpsTest,
        OnNormal,
        OnFail,
        OnBypass,
        OffNormal,
        OffFail,
        OffBoost
    };
    static constexpr int kFrameCount = 8;
    static constexpr int kFrameIntervalMs = 125;

    explicit AnimatedPicture(Kind kind, QWidget* parent = nullptr);

    void Start();
    void Stop();
    // Back to the first frame; a running picture keeps running.
    void Reset();
    bool Running() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    Kind kind() const { return kind_; }

    // Whether the kind is one of the six power-path diagrams rather than a status glyph.
    static bool IsModeDiagram(Kind kind) { return kind >= Kind::OnNormal; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void Advance();

    Kind kind_;
    int frame_ = 0;
    QTimer timer_;
};

}  // namespace kelvora::gui
