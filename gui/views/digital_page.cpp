#include "gui/views/digital_page.h"

#include <algorithm>

#include <QFrame>
#include <QGridLayout>
#include <QVBoxLayout>

#include "gui/views/field_style.h"
#include "gui/views/view_rules.h"

namespace kelvora::gui {

namespace {

// Set until a reading shows a voltage; the extremes of every page start from that reading, so
// the zeros of a UPS not yet heard from never become minima.
bool firstSample = true;

const char* const kTitles[6] = {"輸入電壓", "輸出電壓", "頻率", "電池容量", "UPS負載", "溫度"};
const char* const kRows[3] = {"現值:", "最小:", "最大:"};

}  // namespace

DigitalPage::DigitalPage(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    for (int q = 0; q < 6; ++q) {
        auto* group = new QFrame(this);
        group->setFrameStyle(QFrame::Box | QFrame::Raised);
        auto* box = new QVBoxLayout(group);
        box->setContentsMargins(1, 1, 1, 8);
        box->setSpacing(6);
        box->addWidget(MakeGroupTitle(QString::fromUtf8(kTitles[q]), group));
        // The rows sit in the middle of the space under the title.
        auto* rows = new QGridLayout;
        rows->setContentsMargins(8, 4, 8, 0);
        rows->setHorizontalSpacing(6);
        rows->setVerticalSpacing(6);
        for (int r = 0; r < 3; ++r) {
            rows->addWidget(MakeRowLabel(QString::fromUtf8(kRows[r]), group), r, 0);
            QLabel* field = r == 0 ? MakeCurrentField(group) : MakeValueField(group);
            QFont f = field->font();
            f.setPointSizeF(f.pointSizeF() * 1.25);
            f.setBold(r == 0);
            field->setFont(f);
            field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            rows->addWidget(field, r, 1);
            fields_[q][r] = field;
        }
        rows->setColumnStretch(1, 1);
        box->addStretch(1);
        box->addLayout(rows);
        box->addStretch(1);
        grid->addWidget(group, q / 3, q % 3);
    }
    for (int i = 0; i < 3; ++i) grid->setColumnStretch(i, 1);
    Show(Row::Current, current_);
    Show(Row::Minimum, min_);
    Show(Row::Maximum, max_);
}

void DigitalPage::ResetFirstSampleForTests() {
    firstSample = true;
}

void DigitalPage::Update(int inVoltage, int outVoltage, int frequency, int capacity, int load,
                         int temperature) {
    current_.in = inVoltage / 10.0f;
    current_.out = outVoltage / 10.0f;
    current_.freq = frequency / 10.0f;
    current_.capacity = float(capacity);
    current_.load = load / 10.0f;
    current_.celsius = temperature / 10.0f;
    current_.fahrenheit = float(CelsiusToFahrenheit(current_.celsius));

    if (firstSample) {
        if (current_.in > 0 || current_.out > 0) {
            min_ = current_;
            max_ = current_;
            firstSample = false;
        }
    } else {
        auto widen = [](float v, float& lo, float& hi) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        };
        widen(current_.in, min_.in, max_.in);
        widen(current_.out, min_.out, max_.out);
        widen(current_.freq, min_.freq, max_.freq);
        widen(current_.capacity, min_.capacity, max_.capacity);
        widen(current_.load, min_.load, max_.load);
        widen(current_.celsius, min_.celsius, max_.celsius);
        widen(current_.fahrenheit, min_.fahrenheit, max_.fahrenheit);
    }

    Show(Row::Current, current_);
    Show(Row::Minimum, min_);
    Show(Row::Maximum, max_);
}

void DigitalPage::Show(Row row, const Reading& r) {
    const int i = int(row);
    fields_[int(Quantity::InputVoltage)][i]->setText(QString::asprintf("%4.1f v", r.in));
    fields_[int(Quantity::OutputVoltage)][i]->setText(QString::asprintf("%4.1f v", r.out));
    fields_[int(Quantity::Frequency)][i]->setText(QString::asprintf("%4.1f Hz", r.freq));
    fields_[int(Quantity::Capacity)][i]->setText(QString::asprintf("%d %%", int(r.capacity)));
    fields_[int(Quantity::Load)][i]->setText(QString::asprintf("%4.1f %%", r.load));
    fields_[int(Quantity::Temperature)][i]->setText(
        QString::asprintf("%4.1f C  %4.1f F", r.celsius, r.fahrenheit));
}

QString DigitalPage::Text(Quantity quantity, Row row) const {
    return fields_[int(quantity)][int(row)]->text();
}

}  // namespace kelvora::gui
