#include "gui/views/picture_page.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/views/field_style.h"

namespace kelvora::gui {

namespace {

using Kind = AnimatedPicture::Kind;

constexpr Kind kModeKinds[6] = {Kind::OnNormal,  Kind::OnFail,  Kind::OnBypass,
                                Kind::OffNormal, Kind::OffFail, Kind::OffBoost};
constexpr int kBlankPage = 6;  // the stack's empty page, for states without a picture

QString TypeName(int code) {
    switch (code) {
        case 0:
            return QStringLiteral("On-line");
        case 1:
            return QStringLiteral("Standby");
        default:
            return QStringLiteral("Unknown");
    }
}

// Adds a "label  field  unit" row to grid and returns the field.
QLabel* AddRow(QGridLayout* grid, int row, const QString& label, const QString& unit,
               QWidget* parent, bool live) {
    grid->addWidget(MakeRowLabel(label, parent), row, 0);
    QLabel* field = live ? MakeCurrentField(parent) : MakeValueField(parent);
    grid->addWidget(field, row, 1);
    if (!unit.isEmpty()) grid->addWidget(MakeRowLabel(unit, parent), row, 2, Qt::AlignLeft);
    return field;
}

}  // namespace

PicturePage::PicturePage(QWidget* parent) : QWidget(parent), stack_(new QStackedWidget(this)) {
    for (int i = 0; i < 6; ++i) {
        pictures_[i] = new AnimatedPicture(kModeKinds[i], stack_);
        stack_->addWidget(pictures_[i]);
    }
    stack_->addWidget(new QWidget(stack_));
    stack_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    stack_->setAutoFillBackground(true);
    QPalette pal = stack_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    stack_->setPalette(pal);
    stack_->setMinimumSize(300, 220);

    // The readings, beside the picture.
    auto* readings = new QFrame(this);
    auto* readingGrid = new QGridLayout(readings);
    readingGrid->setContentsMargins(4, 4, 4, 4);
    readingGrid->setVerticalSpacing(8);
    type_ = AddRow(readingGrid, 0, QStringLiteral("UPS型式"), {}, readings, true);
    input_ = AddRow(readingGrid, 1, QStringLiteral("輸入電壓"), {}, readings, true);
    output_ = AddRow(readingGrid, 2, QStringLiteral("輸出電壓"), {}, readings, true);
    capacity_ = AddRow(readingGrid, 3, QStringLiteral("電池容量"), {}, readings, true);
    load_ = AddRow(readingGrid, 4, QStringLiteral("UPS負載"), {}, readings, true);
    readingGrid->setColumnStretch(1, 1);

    // The ratings, as the UPS reports them.
    auto* ratings = new QFrame(this);
    ratings->setFrameStyle(QFrame::Box | QFrame::Raised);
    auto* ratingBox = new QVBoxLayout(ratings);
    ratingBox->setContentsMargins(1, 1, 1, 6);
    ratingBox->addWidget(MakeGroupTitle(QStringLiteral("UPS額定值"), ratings));
    auto* ratingGrid = new QGridLayout;
    ratingGrid->setContentsMargins(6, 4, 6, 0);
    ratingGrid->setVerticalSpacing(6);
    ratedVoltage_ =
        AddRow(ratingGrid, 0, QStringLiteral("額定電壓"), QStringLiteral("Vac"), ratings, false);
    ratedCurrent_ =
        AddRow(ratingGrid, 1, QStringLiteral("額定電流"), QStringLiteral("A"), ratings, false);
    ratedBattery_ = AddRow(ratingGrid, 2, QStringLiteral("額定電池電壓"), QStringLiteral("Vdc"),
                           ratings, false);
    ratedFrequency_ =
        AddRow(ratingGrid, 3, QStringLiteral("額定頻率"), QStringLiteral("Hz"), ratings, false);
    ratingGrid->setColumnStretch(1, 1);
    ratingBox->addLayout(ratingGrid);

    auto* side = new QVBoxLayout;
    side->addWidget(readings);
    side->addStretch(1);
    side->addWidget(ratings);

    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(8, 8, 8, 8);
    top->setSpacing(12);
    top->addWidget(stack_, 3);
    top->addLayout(side, 2);

    SetMode(4);
    UpdateValues(0, 0, 0, 0, 2);
    UpdateRatings(0, 0, 0, 0);
}

void PicturePage::SetMode(int state) {
    if (state == mode_) return;
    mode_ = state;
    stack_->setCurrentIndex(state >= 1 && state <= 6 ? state - 1 : kBlankPage);
}

const AnimatedPicture* PicturePage::ShownPicture() const {
    const int i = stack_->currentIndex();
    return i >= 0 && i < 6 ? pictures_[i] : nullptr;
}

void PicturePage::StartAll() {
    for (AnimatedPicture* p : pictures_) p->Start();
}

void PicturePage::StopAll() {
    for (AnimatedPicture* p : pictures_) p->Stop();
}

void PicturePage::UpdateValues(int inVoltage, int outVoltage, int capacity, int load,
                               int typeCode) {
    type_->setText(TypeName(typeCode));
    input_->setText(QString::asprintf("%.1f Vac", inVoltage / 10.0));
    output_->setText(QString::asprintf("%.1f Vac", outVoltage / 10.0));
    capacity_->setText(QString::asprintf("%d %%", capacity));
    load_->setText(QString::asprintf("%.1f %%", load / 10.0));
}

void PicturePage::UpdateRatings(int voltage, int current, int batteryVoltage, int frequency) {
    ratedVoltage_->setText(QString::asprintf("%.1f", voltage / 10.0));
    ratedCurrent_->setText(QString::asprintf("%.2f", current / 10.0));
    ratedBattery_->setText(QString::asprintf("%.1f", batteryVoltage / 100.0));
    ratedFrequency_->setText(QString::asprintf("%.1f", frequency / 10.0));
}

}  // namespace kelvora::gui
