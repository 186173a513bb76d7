#include "gui/logs/calendar_dialog.h"

#include <ctime>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/logs/log_icons.h"
#include "gui/logs/log_lines.h"
#include "ups_lib/event_texts.h"

namespace kelvora::panel {

namespace {

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Counted on the calendar rather than by subtracting midnights, which a change to or from
// summer time would put an hour off.
int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// 0 = Sunday (Sakamoto's method).
int Weekday(int y, int m, int d) {
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + kOffsets[m - 1] + d) % 7;
}

int KindOf(std::uint32_t eventId) {
    switch (eventId) {
        case ups::kEvAcFailure:
            return kCalAcFail;
        case ups::kEvBatteryLow:
            return kCalBatteryLow;
        case ups::kEvSystemShutdown:
            return kCalShutdown;
        case ups::kEvSelfTest:
            return kCalSelfTest;
        default:
            return -1;
    }
}

const QColor kSundayRed(235, 90, 90);
const QColor kSaturdayGreen(110, 200, 110);
const QColor kWeekdayCyan(150, 225, 235);
const QColor kTitleBlue(20, 60, 200);

}  // namespace

// The month's cells, painted: a day number and up to four event icons in each, the hand
// cursor over the days and a click reported with the day's number.
class CalendarGrid : public QWidget {
  public:
    explicit CalendarGrid(const CDlgEv2& owner) : owner_(owner) {
        setObjectName(QStringLiteral("calendarGrid"));
        setMouseTracking(true);
        setMinimumSize(CDlgEv2::kColumns * 64, CDlgEv2::kRows * 44);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    std::function<void(int day)> clicked;

    QRect CellRect(int cell) const {
        const int w = width() / CDlgEv2::kColumns;
        const int h = height() / CDlgEv2::kRows;
        return QRect((cell % CDlgEv2::kColumns) * w, (cell / CDlgEv2::kColumns) * h, w, h);
    }

    // The day under a point, 0 off the month's days.
    int DayAt(const QPoint& pos) const {
        if (!rect().contains(pos) || width() < CDlgEv2::kColumns || height() < CDlgEv2::kRows) {
            return 0;
        }
        const int column = pos.x() / (width() / CDlgEv2::kColumns);
        const int row = pos.y() / (height() / CDlgEv2::kRows);
        if (column >= CDlgEv2::kColumns || row >= CDlgEv2::kRows) return 0;
        return owner_.cellDay(row * CDlgEv2::kColumns + column);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QPalette& pal = palette();
        QFont dayFont = font();
        dayFont.setBold(true);
        p.setFont(dayFont);
        for (int cell = 0; cell < CDlgEv2::kCells; ++cell) {
            const QRect r = CellRect(cell).adjusted(1, 1, -1, -1);
            const int day = owner_.cellDay(cell);
            p.setPen(pal.color(QPalette::Mid));
            p.setBrush(day > 0 ? pal.color(QPalette::Base) : pal.color(QPalette::Window));
            p.drawRect(r);
            if (day == 0) continue;
            p.setPen(pal.color(QPalette::Text));
            p.drawText(r.adjusted(6, 3, -4, -2), Qt::AlignLeft | Qt::AlignTop,
                       QString::number(day));
            // Fixed places across the lower half, one per kind, so a kind is always found
            // in the same spot.
            for (int kind = 0; kind < kCalKindCount; ++kind) {
                if (!owner_.cellHasIcon(cell, kind)) continue;
                const int x = r.left() + static_cast<int>(r.width() * (0.06 + 0.23 * kind));
                const int y = r.top() + static_cast<int>(r.height() * 0.55);
                CalendarIcon(kind).paint(&p, QRect(x, y, 16, 16));
            }
        }
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (DayAt(e->position().toPoint()) > 0) {
            setCursor(Qt::PointingHandCursor);
        } else {
            unsetCursor();
        }
    }

    void leaveEvent(QEvent*) override { unsetCursor(); }

    void mousePressEvent(QMouseEvent* e) override {
        const int day = DayAt(e->position().toPoint());
        if (e->button() == Qt::LeftButton && day > 0 && clicked) clicked(day);
    }

  private:
    const CDlgEv2& owner_;
};

CDlgEv2::CDlgEv2(std::function<std::int64_t()> now, QWidget* parent)
    : QDialog(parent), now_(std::move(now)) {
    if (!now_) now_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    setWindowTitle(QStringLiteral("每月事件記錄"));

    auto* prev =
        new QPushButton(style()->standardIcon(QStyle::SP_ArrowLeft), QStringLiteral("Prev"));
    auto* next =
        new QPushButton(style()->standardIcon(QStyle::SP_ArrowRight), QStringLiteral("Next"));
    next->setLayoutDirection(Qt::RightToLeft);
    prev->setObjectName(QStringLiteral("prev"));
    next->setObjectName(QStringLiteral("next"));
    title_ = new QLabel;
    title_->setAlignment(Qt::AlignCenter);
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title_->setFont(titleFont);
    title_->setStyleSheet(QStringLiteral("color: %1;").arg(kTitleBlue.name()));
    auto* top = new QHBoxLayout;
    top->addWidget(prev);
    top->addWidget(title_, 1);
    top->addWidget(next);

    auto* headings = new QHBoxLayout;
    headings->setSpacing(2);
    const QString names[] = {QStringLiteral("星期日"), QStringLiteral("星期一"),
                             QStringLiteral("星期二"), QStringLiteral("星期三"),
                             QStringLiteral("星期四"), QStringLiteral("星期五"),
                             QStringLiteral("星期六")};
    for (int d = 0; d < kColumns; ++d) {
        auto* heading = new QLabel(names[d]);
        heading->setAlignment(Qt::AlignCenter);
        const QColor bg = d == 0 ? kSundayRed : d == 6 ? kSaturdayGreen : kWeekdayCyan;
        heading->setStyleSheet(
            QStringLiteral("background: %1; color: black; padding: 3px;").arg(bg.name()));
        headings->addWidget(heading, 1);
    }

    grid_ = new CalendarGrid(*this);
    grid_->clicked = [this](int day) { ClickDay(day); };

    auto* legend = new QGridLayout;
    const QString kinds[] = {QStringLiteral("市電中斷"), QStringLiteral("電池低電位"),
                             QStringLiteral("關閉作業系統與UPS"), QStringLiteral("UPS自我測試")};
    for (int k = 0; k < kCalKindCount; ++k) {
        auto* icon = new QLabel;
        icon->setPixmap(CalendarIcon(k).pixmap(16, 16));
        legend->addWidget(icon, k, 0);
        legend->addWidget(new QLabel(kinds[k]), k, 1);
    }
    legend->setColumnStretch(1, 1);

    date_ = new QLabel;
    date_->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(kTitleBlue.name()));
    details_ = new QListWidget;
    details_->setMaximumHeight(110);
    auto* detailBox = new QVBoxLayout;
    detailBox->addWidget(date_);
    detailBox->addWidget(details_);

    auto* leave = new QPushButton(QStringLiteral("離開"));
    leave->setObjectName(QStringLiteral("leave"));
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(legend);
    bottom->addLayout(detailBox, 1);
    bottom->addWidget(leave, 0, Qt::AlignBottom);

    for (QPushButton* b : {prev, next, leave}) b->setAutoDefault(false);
    connect(prev, &QPushButton::clicked, this, &CDlgEv2::Prev);
    connect(next, &QPushButton::clicked, this, &CDlgEv2::Next);
    connect(leave, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(headings);
    layout->addWidget(grid_, 1);
    layout->addLayout(bottom);
    resize(760, 620);

    const LocalTime lt = ToLocal(now_());
    year_ = lt.year;
    month_ = lt.month;
    Next();
}

void CDlgEv2::Fill(const std::vector<ups::CEventLogRecord>& records) {
    records_ = records;
    Prev();
}

// The calendar stops at the ends of years 1 and 9999, where the weekday arithmetic holds.
void CDlgEv2::Prev() {
    if (year_ <= 1 && month_ <= 1) return;
    if (--month_ < 1) {
        month_ = 12;
        --year_;
    }
    Redraw();
}

void CDlgEv2::Next() {
    if (year_ >= 9999 && month_ >= 12) return;
    if (++month_ > 12) {
        month_ = 1;
        ++year_;
    }
    Redraw();
}

QString CDlgEv2::monthTitle() const {
    return title_->text();
}

void CDlgEv2::Redraw() {
    first_ = Weekday(year_, month_, 1);
    end_ = first_ + DaysInMonth(year_, month_);
    icons_.fill(0);
    for (const auto& r : records_) {
        const int kind = KindOf(r.eventId);
        if (kind < 0) continue;
        const LocalTime lt = ToLocal(r.time);
        if (lt.year != year_ || lt.month != month_) continue;
        icons_[static_cast<std::size_t>(first_ + lt.day - 1)] |= std::uint8_t(1u << kind);
    }
    LocalTime shown;
    shown.year = year_;
    shown.month = month_;
    title_->setText(QString::fromStdString(FormatTime(shown, "%B %Y")));
    grid_->update();
}

void CDlgEv2::ClickDay(int day) {
    if (day < 1 || day > end_ - first_) return;
    LocalTime shown;
    shown.year = year_;
    shown.month = month_;
    shown.day = day;
    date_->setText(QString::fromStdString(FormatTime(shown, "%B %d %Y")));
    details_->clear();
    for (const auto& r : records_) {
        const LocalTime lt = ToLocal(r.time);
        if (lt.year != year_ || lt.month != month_ || lt.day != day) continue;
        if (const auto line = CalendarDetailLine(r)) {
            details_->addItem(QString::fromStdString(*line));
        }
    }
}

QString CDlgEv2::dayDate() const {
    return date_->text();
}

QStringList CDlgEv2::dayDetails() const {
    QStringList lines;
    for (int i = 0; i < details_->count(); ++i) lines << details_->item(i)->text();
    return lines;
}

bool CDlgEv2::cellHasIcon(int cell, int kind) const {
    if (cell < 0 || cell >= kCells || kind < 0 || kind >= kCalKindCount) return false;
    return (icons_[static_cast<std::size_t>(cell)] >> kind) & 1u;
}

int CDlgEv2::cellDay(int cell) const {
    return cell >= first_ && cell < end_ ? cell - first_ + 1 : 0;
}

void CDlgEv2::done(int result) {
    QDialog::done(result);
    emit closed();
}

}  // namespace kelvora::panel
