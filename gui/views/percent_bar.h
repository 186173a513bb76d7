// A vertical 0-100 % level bar with a scale beside it and a caption underneath, for the battery
// capacity and the UPS load.
#pragma once

#include <QString>
#include <QWidget>

namespace kelvora::gui {

class PercentBar : public QWidget {
    Q_OBJECT

  public:
    explicit PercentBar(QWidget* parent = nullptr);

    // The level in percent; drawn held to 0..100.
    void SetValue(double value);
    void SetCaption(const QString& caption);

    double Value() const { return value_; }
    QString Caption() const { return caption_; }

    QSize sizeHint() const override { return {120, 200}; }
    QSize minimumSizeHint() const override { return {80, 120}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double value_ = 0;
    QString caption_;
};

}  // namespace kelvora::gui
