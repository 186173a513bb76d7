// The drawn widgets: the animation's timing, that each picture, dial, bar and icon draws what it
// should, and that every page draws at the size the panel gives it.
#include <QSignalSpy>
#include <QtTest>

#include "gui/views/animated_picture.h"
#include "gui/views/bar_icons.h"
#include "gui/views/chart_page.h"
#include "gui/views/digital_page.h"
#include "gui/views/gauge_widget.h"
#include "gui/views/meter_page.h"
#include "gui/views/percent_bar.h"
#include "gui/views/picture_page.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

using Kind = AnimatedPicture::Kind;

constexpr Kind kAllKinds[] = {Kind::Earth,   Kind::Disconnected, Kind::AcFail,    Kind::BatteryLow,
                              Kind::UpsBad,  Kind::UpsAvr,       Kind::UpsTest,   Kind::OnNormal,
                              Kind::OnFail,  Kind::OnBypass,     Kind::OffNormal, Kind::OffFail,
                              Kind::OffBoost};

QImage Draw(QWidget& w) {
    return w.grab().toImage();
}

// Whether anything was drawn on a widget with no background of its own.
bool HasInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0 && image.pixel(x, y) != image.pixel(0, 0))
                return true;
        }
    }
    return false;
}

class WidgetTest : public QObject {
    Q_OBJECT

  private slots:
    void animationRunsOnlyWhenStarted() {
        AnimatedPicture pic(Kind::Earth);
        QVERIFY(!pic.Running());
        QTest::qWait(AnimatedPicture::kFrameIntervalMs * 2 + 30);
        QCOMPARE(pic.Frame(), 0);

        pic.Start();
        QVERIFY(pic.Running());
        QVERIFY(QTest::qWaitFor([&] { return pic.Frame() >= 2; }, 2000));

        pic.Stop();
        QVERIFY(!pic.Running());
        const int held = pic.Frame();
        QTest::qWait(AnimatedPicture::kFrameIntervalMs * 2 + 30);
        QCOMPARE(pic.Frame(), held);

        pic.Reset();
        QCOMPARE(pic.Frame(), 0);
        QVERIFY(!pic.Running());
    }

    void resetKeepsRunning() {
        AnimatedPicture pic(Kind::OnNormal);
        pic.Start();
        QVERIFY(QTest::qWaitFor([&] { return pic.Frame() > 0; }, 2000));
        pic.Reset();
        QCOMPARE(pic.Frame(), 0);
        QVERIFY(pic.Running());
        QVERIFY(QTest::qWaitFor([&] { return pic.Frame() > 0; }, 2000));
    }

    void everyKindDrawsItsOwnPicture() {
        QList<QImage> images;
        for (Kind kind : kAllKinds) {
            AnimatedPicture pic(kind);
            const bool diagram = AnimatedPicture::IsModeDiagram(kind);
            QCOMPARE(pic.sizeHint(), diagram ? QSize(220, 160) : QSize(48, 48));
            pic.resize(pic.sizeHint());
            const QImage image = Draw(pic);
            QVERIFY2(HasInk(image), qPrintable(QString::number(int(kind))));
            for (qsizetype i = 0; i < images.size(); ++i) {
                QVERIFY2(
                    images[i] != image,
                    qPrintable(QStringLiteral("kinds %1 and %2 look alike").arg(i).arg(int(kind))));
            }
            images.append(image);
        }
    }

    void diagramMovesBetweenFrames() {
        AnimatedPicture pic(Kind::OnNormal);
        pic.resize(pic.sizeHint());
        const QImage first = Draw(pic);
        pic.Start();
        QVERIFY(QTest::qWaitFor([&] { return pic.Frame() > 0; }, 2000));
        pic.Stop();
        QVERIFY(Draw(pic) != first);
        pic.Reset();
        QCOMPARE(Draw(pic), first);
    }

    void gaugeClickSignals() {
        GaugeWidget gauge;
        gauge.resize(200, 200);
        QSignalSpy spy(&gauge, &GaugeWidget::clicked);
        QTest::mousePress(&gauge, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }

    void gaugeNeedleMovesAndPinsAtEnds() {
        GaugeWidget gauge;
        gauge.resize(200, 200);
        gauge.SetRange(160, 260);
        gauge.SetMajorTicks(160, 260, 20);
        gauge.SetValue(160);
        const QImage atMin = Draw(gauge);
        gauge.SetValue(230);
        const QImage mid = Draw(gauge);
        gauge.SetValue(260);
        const QImage atMax = Draw(gauge);
        QVERIFY(atMin != mid);
        QVERIFY(mid != atMax);
        // Past the ends the needle rests on them.
        gauge.SetValue(100);
        QCOMPARE(Draw(gauge), atMin);
        gauge.SetValue(460);
        QCOMPARE(Draw(gauge), atMax);
    }

    void gaugeDrawsCaptionZonesAndSecondScale() {
        GaugeWidget gauge;
        gauge.resize(220, 220);
        const QImage plain = Draw(gauge);
        gauge.SetCaption(QStringLiteral("25.0 C    77.0 F"));
        const QImage captioned = Draw(gauge);
        QVERIFY(captioned != plain);
        gauge.SetZones({0, 20}, {20, 80}, {80, 100});
        const QImage zoned = Draw(gauge);
        QVERIFY(zoned != captioned);
        gauge.SetSecondScale(32, 212);
        QVERIFY(Draw(gauge) != zoned);
    }

    void gaugeSurvivesOddSettings() {
        // An empty range or a zero or negative interval must not hang or crash the painter.
        GaugeWidget gauge;
        gauge.resize(150, 150);
        gauge.SetRange(50, 50);
        gauge.SetMajorTicks(0, 100, 0);
        gauge.SetMinorTicks(0, 100, -5);
        gauge.SetSecondScale(10, 10);
        gauge.SetValue(50);
        QVERIFY(HasInk(Draw(gauge)));
        gauge.SetRange(0, 1e9);
        gauge.SetMajorTicks(0, 1e9, 1);
        QVERIFY(HasInk(Draw(gauge)));
    }

    void barFillsAndPins() {
        PercentBar bar;
        bar.resize(120, 200);
        bar.SetValue(0);
        const QImage empty = Draw(bar);
        bar.SetValue(50);
        const QImage half = Draw(bar);
        bar.SetValue(100);
        const QImage full = Draw(bar);
        QVERIFY(empty != half);
        QVERIFY(half != full);
        bar.SetValue(150);
        QCOMPARE(Draw(bar), full);
        bar.SetValue(-20);
        QCOMPARE(Draw(bar), empty);
    }

    void iconsAreDistinctAtBothSizes() {
        QList<QImage> seen;
        for (int item = 0; item < kBarItemCount; ++item) {
            const QIcon icon = BarIcon(item);
            QVERIFY(!icon.isNull());
            const QList<QSize> sizes = icon.availableSizes();
            QVERIFY(sizes.contains(QSize(32, 32)));
            QVERIFY(sizes.contains(QSize(64, 64)));
            const QImage image = icon.pixmap(QSize(64, 64)).toImage();
            QVERIFY(HasInk(image));
            for (const QImage& other : seen) QVERIFY(other != image);
            seen.append(image);
            SaveArtifact(icon.pixmap(QSize(64, 64)), QStringLiteral("icon_%1").arg(item));
        }
        QVERIFY(BarIcon(-1).isNull());
        QVERIFY(BarIcon(kBarItemCount).isNull());
        const QIcon app = AppIcon();
        QVERIFY(!app.isNull());
        QVERIFY(HasInk(app.pixmap(QSize(64, 64)).toImage()));
        SaveArtifact(app.pixmap(QSize(64, 64)), QStringLiteral("icon_app"));
    }

    void pagesDrawAtPanelSize() {
        const QSize size(700, 430);
        MeterPage meter;
        meter.Update(2300, 2295, 500, 85, 123, 253);
        DigitalPage::ResetFirstSampleForTests();
        DigitalPage digital;
        digital.Update(2300, 2295, 500, 85, 123, 253);
        PicturePage picture;
        picture.UpdateValues(2300, 2295, 85, 123, 1);
        picture.UpdateRatings(2200, 50, 2400, 600);
        ChartPage chart;
        for (int i = 0; i < 40; ++i) chart.Update(2280 + (i % 7) * 5, 2300);
        const std::pair<QWidget*, const char*> pages[] = {{&meter, "meter_page"},
                                                          {&digital, "digital_page"},
                                                          {&picture, "picture_page"},
                                                          {&chart, "chart_page"}};
        for (auto [page, name] : pages) {
            page->resize(size);
            const QPixmap pm = page->grab();
            QCOMPARE(pm.size(), size);
            QVERIFY2(HasInk(pm.toImage()), name);
            SaveArtifact(pm, QString::fromLatin1(name));
        }
    }
};

}  // namespace

int RunWidgetTests(int argc, char** argv) {
    WidgetTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "widgets_test.moc"
