#include "gui/config/cfg_dialog.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/config/shutdown_delay.h"
#include "ups_lib/config_fields.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace {

const char* const kUpsTypes[] = {"Stavlen", "Demo", "Stav(USB)", "SEC(24bps)", "SEC(96bps)"};
const char* const kComPorts[] = {"COM 1", "COM 2", "COM 3", "COM 4", "None"};

// What the dialog shows before any record has arrived.
constexpr int kInitialUpsType = ups::CConfig::kDemo;
constexpr int kInitialAcFailDelay = 0;
// What "預設值" sets (and, where they agree, the first showing).
constexpr int kDefaultComPort = 0;
constexpr int kDefaultInterval = 30;
constexpr int kDefaultAcFailDelay = 10;
constexpr int kDefaultBatteryLowDelay = 1;
constexpr int kDefaultDelayIndex = 9;  // "2" minutes
constexpr int kDefaultWarnRepeat = 30;

QString RangeText(int min, int max) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max);
}

QString LengthText(std::size_t max) {
    return QStringLiteral("Please enter no more than %1 characters.").arg(max);
}

void Trace(const char* before, int value, const char* after) {
    ups::Trace(std::string(before) + std::to_string(value) + after);
}

// A framed group with its title in navy above its controls.
QFrame* MakeGroup(const QString& title, QWidget* parent, QGridLayout*& grid) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* box = new QVBoxLayout(frame);
    auto* label = new QLabel(title, frame);
    label->setObjectName(QStringLiteral("groupTitle"));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(pal);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    box->addWidget(label);
    grid = new QGridLayout;
    box->addLayout(grid);
    box->addStretch(1);
    return frame;
}

QCheckBox* MakeCheck(const QString& caption, const char* name, QWidget* parent) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

CNumberEdit* MakeNumber(int arrowMin, int arrowMax, const char* name, QWidget* parent) {
    auto* edit = new CNumberEdit(arrowMin, arrowMax, parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CDlgCfg::CDlgCfg(QWidget* parent) : QDialog(parent), messages_(this), email_(this), pager_(this) {
    showRangeMessage = [](QWidget* owner, const QString& text) {
        QMessageBox::warning(owner, QString(), text);
    };
    chooseProgram = [](QWidget* owner, const QString& current) {
        // Programs on this side have no extension, so every file can be chosen too.
        const QString dir = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
        return QFileDialog::getOpenFileName(owner, QString(), dir,
                                            QStringLiteral("Programs (*.exe);;All files (*)"));
    };
    runModal = [](QDialog& dialog) { return dialog.exec(); };
    Build();

    connect(&messages_, &CDlgMessages::stored, this, &CDlgCfg::messagesAccepted);
    connect(&email_, &CDlgEmail::stored, this,
            [this](const std::string& server, const NotifyTexts& addresses) {
                // The server lives in the configuration record: an OK here must not later
                // send the record back with the old server.
                record_.mailServer = server;
                emit emailAccepted(server, addresses);
            });
    connect(&pager_, &CDlgPager::stored, this,
            [this](int port, const NotifyTexts& numbers, const NotifyTexts& codes) {
                record_.pagerPort = port;
                emit pagerAccepted(port, numbers, codes);
            });

    // The first showing: the dialog's own starting values until a record arrives.
    SetDefaults();
    upsType_->setCurrentIndex(kInitialUpsType);
    acFailDelay_->setValue(kInitialAcFailDelay);
    ApplyPortRule();
}

void CDlgCfg::Build() {
    setWindowTitle(QStringLiteral("參數設定"));
    auto* box = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(BuildGeneral());
    left->addWidget(BuildCommunication());
    auto* right = new QVBoxLayout;
    right->addWidget(BuildShutdown());
    right->addWidget(BuildTiming());
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    box->addLayout(columns);

    auto* buttons = new QHBoxLayout;
    auto* defaults = MakeButton(QStringLiteral("預設值"), "defaults", this);
    auto* ok = MakeButton(QStringLiteral("確定"), "ok", this);
    ok->setDefault(true);
    auto* cancel = MakeButton(QStringLiteral("取消"), "cancel", this);
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    box->addLayout(buttons);
    connect(defaults, &QPushButton::clicked, this, &CDlgCfg::SetDefaults);
    connect(ok, &QPushButton::clicked, this, &CDlgCfg::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgCfg::reject);
}

QWidget* CDlgCfg::BuildGeneral() {
    QGridLayout* grid = nullptr;
    auto* group = MakeGroup(QStringLiteral("一般設定"), this, grid);
    dataLogOn_ = MakeCheck(QStringLiteral("記錄UPS 數據"), "dataLogOn", group);
    dataLogInterval_ = MakeNumber(1, 600, "dataLogInterval", group);
    auto* interval = new QHBoxLayout;
    auto* intervalLabel = new QLabel(QStringLiteral("間隔:"), group);
    intervalLabel->setBuddy(dataLogInterval_);
    interval->addWidget(intervalLabel);
    interval->addWidget(dataLogInterval_);
    interval->addWidget(new QLabel(QStringLiteral("秒"), group));
    interval->addStretch(1);
    grid->addWidget(dataLogOn_, 0, 0);
    grid->addLayout(interval, 0, 1);

    showWarnings_ = MakeCheck(QStringLiteral("啟動警告訊息顯示視窗"), "showWarnings", group);
    emailOn_ = MakeCheck(QStringLiteral("啟動電子郵件傳送功能"), "emailOn", group);
    pagerOn_ = MakeCheck(QStringLiteral("啟動呼叫器傳呼功能:"), "pagerOn", group);
    auto* messages = MakeButton(QStringLiteral("設定警告與電子郵件訊息"), "messages", group);
    auto* email = MakeButton(QStringLiteral("電子郵件"), "email", group);
    auto* pager = MakeButton(QStringLiteral("設定呼叫器號碼與傳送碼"), "pager", group);
    grid->addWidget(showWarnings_, 1, 0);
    grid->addWidget(messages, 1, 1);
    grid->addWidget(emailOn_, 2, 0);
    grid->addWidget(email, 2, 1);
    grid->addWidget(pagerOn_, 3, 0);
    grid->addWidget(pager, 3, 1);
    connect(messages, &QPushButton::clicked, this, [this] {
        messages_.ShowStored();
        RunSub(messages_);
    });
    connect(email, &QPushButton::clicked, this, [this] {
        email_.ShowStored();
        RunSub(email_);
    });
    connect(pager, &QPushButton::clicked, this, [this] {
        pager_.ShowStored();
        RunSub(pager_);
    });
    return group;
}

QWidget* CDlgCfg::BuildCommunication() {
    QGridLayout* grid = nullptr;
    auto* group = MakeGroup(QStringLiteral("通訊設定"), this, grid);
    upsType_ = new QComboBox(group);
    upsType_->setObjectName(QStringLiteral("upsType"));
    for (const char* type : kUpsTypes) upsType_->addItem(QString::fromUtf8(type));
    comPort_ = new QComboBox(group);
    comPort_->setObjectName(QStringLiteral("comPort"));
    for (const char* port : kComPorts) comPort_->addItem(QString::fromUtf8(port));
    password_ = new QLineEdit(group);
    password_->setObjectName(QStringLiteral("agentPassword"));
    password_->setEchoMode(QLineEdit::Password);

    auto* typeLabel = new QLabel(QStringLiteral("通訊方式"), group);
    typeLabel->setBuddy(upsType_);
    comPortLabel_ = new QLabel(QStringLiteral("串列通訊埠"), group);
    comPortLabel_->setObjectName(QStringLiteral("comPortLabel"));
    comPortLabel_->setBuddy(comPort_);
    auto* passwordLabel = new QLabel(QStringLiteral("密碼 :"), group);
    passwordLabel->setBuddy(password_);
    grid->addWidget(typeLabel, 0, 0);
    grid->addWidget(upsType_, 0, 1);
    grid->addWidget(comPortLabel_, 1, 0);
    grid->addWidget(comPort_, 1, 1);
    grid->addWidget(passwordLabel, 2, 0);
    grid->addWidget(password_, 2, 1);
    grid->setColumnStretch(1, 1);
    connect(upsType_, &QComboBox::currentIndexChanged, this, &CDlgCfg::ApplyPortRule);
    return group;
}

QWidget* CDlgCfg::BuildShutdown() {
    QGridLayout* grid = nullptr;
    auto* group = MakeGroup(QStringLiteral("關閉電腦設定"), this, grid);
    runProgram_ = MakeCheck(QStringLiteral("關機前欲執行的外部程式:"), "runProgram", group);
    programCmdLine_ = new QLineEdit(group);
    programCmdLine_->setObjectName(QStringLiteral("programCmdLine"));
    programCmdLine_->setMaxLength(static_cast<int>(ups::CConfig::kMaxProgramLength));
    auto* browse = MakeButton(QStringLiteral("..."), "browse", group);
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    auto* path = new QHBoxLayout;
    path->addWidget(programCmdLine_, 1);
    path->addWidget(browse);
    grid->addWidget(runProgram_, 0, 0);
    grid->addLayout(path, 1, 0);
    closeApps_ = MakeCheck(QStringLiteral("自動存檔"), "closeApps", group);
    shutdownWindows_ = MakeCheck(QStringLiteral("關閉Windows"), "shutdownWindows", group);
    turnUpsOff_ = MakeCheck(QStringLiteral("關閉 UPS"), "turnUpsOff", group);
    showLastShutdown_ =
        MakeCheck(QStringLiteral("程式啟動時顯示上次關機前存檔資料"), "showLastShutdown", group);
    grid->addWidget(closeApps_, 2, 0);
    grid->addWidget(shutdownWindows_, 3, 0);
    grid->addWidget(turnUpsOff_, 4, 0);
    grid->addWidget(showLastShutdown_, 5, 0);
    connect(browse, &QPushButton::clicked, this, &CDlgCfg::Browse);
    return group;
}

QWidget* CDlgCfg::BuildTiming() {
    QGridLayout* grid = nullptr;
    auto* group = MakeGroup(QStringLiteral("關機時間參數"), this, grid);
    acFailDelay_ = MakeNumber(1, 2880, "acFailDelay", group);
    batteryLowDelay_ = MakeNumber(0, 600, "batteryLowDelay", group);
    upsOffDelay_ = new QComboBox(group);
    upsOffDelay_->setObjectName(QStringLiteral("upsOffDelay"));
    upsOffDelay_->addItems(ShutdownDelayList());
    upsOffDelay_->setMaxVisibleItems(12);
    warnRepeat_ = MakeNumber(10, 600, "warnRepeat", group);
    const std::pair<const char*, QWidget*> rows[] = {
        {"當市電中斷時,多少分鐘後開始關閉動作 :", acFailDelay_},
        {"當電池低電位時,多少分鐘後開始關閉動作 :", batteryLowDelay_},
        {"UPS 關機前的緩衝時間 :", upsOffDelay_},
        {"警告訊息間隔時間 :", warnRepeat_},
    };
    int row = 0;
    for (const auto& [caption, field] : rows) {
        auto* label = new QLabel(QString::fromUtf8(caption), group);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    return group;
}

void CDlgCfg::Show(const ups::CConfig& c) {
    // A number the list does not offer shows no selection, and OK then asks for one.
    upsType_->setCurrentIndex(c.upsType >= 0 && c.upsType < upsType_->count() ? c.upsType : -1);
    comPort_->setCurrentIndex(c.comPort >= 0 && c.comPort < comPort_->count() ? c.comPort : -1);
    password_->setText(QString::fromStdString(c.agentPassword));
    dataLogOn_->setChecked(c.dataLogOn != 0);
    dataLogInterval_->setValue(c.dataLogInterval);
    showWarnings_->setChecked(c.showWarnings != 0);
    emailOn_->setChecked(c.emailOn != 0);
    pagerOn_->setChecked(c.pagerOn != 0);
    runProgram_->setChecked(c.runProgram != 0);
    programCmdLine_->setText(QString::fromStdString(c.programCmdLine));
    programCmdLine_->setCursorPosition(0);
    closeApps_->setChecked(c.closeApps != 0);
    shutdownWindows_->setChecked(c.shutdownWindows != 0);
    turnUpsOff_->setChecked(c.turnUpsOff != 0);
    showLastShutdown_->setChecked(c.showLastShutdown != 0);
    acFailDelay_->setValue(c.acFailDelay);
    batteryLowDelay_->setValue(c.batteryLowDelay);
    Trace("\ninit dialog nshutdowndelay ", c.upsOffDelay, "\n");
    const int index = DelaySecondsToIndex(c.upsOffDelay);
    Trace("in adj fr float ", index, "\n");
    upsOffDelay_->setCurrentIndex(index);
    warnRepeat_->setValue(c.warnRepeat);
}

void CDlgCfg::LoadFromRecord(const ups::CConfig& config) {
    record_ = config;
    ApplyBaudRule(record_);
    Show(record_);
    ApplyPortRule();
    email_.LoadServer(record_.mailServer);
    pager_.LoadPort(record_.pagerPort);
    shown_ = Collected();
}

void CDlgCfg::LoadNotifications(const ups::CMsgTab& tab, int pagerPort) {
    messages_.Load(tab.text);
    email_.LoadServer(record_.mailServer);
    email_.LoadAddresses(tab.address);
    pager_.LoadPort(pagerPort);
    pager_.LoadPairs(tab.number, tab.code);
}

void CDlgCfg::SetDefaults() {
    comPort_->setCurrentIndex(kDefaultComPort);
    dataLogInterval_->setValue(kDefaultInterval);
    showWarnings_->setChecked(true);
    emailOn_->setChecked(false);
    pagerOn_->setChecked(false);
    runProgram_->setChecked(false);
    programCmdLine_->clear();
    closeApps_->setChecked(true);
    shutdownWindows_->setChecked(true);
    turnUpsOff_->setChecked(true);
    showLastShutdown_->setChecked(true);
    acFailDelay_->setValue(kDefaultAcFailDelay);
    batteryLowDelay_->setValue(kDefaultBatteryLowDelay);
    upsOffDelay_->setCurrentIndex(kDefaultDelayIndex);
    warnRepeat_->setValue(kDefaultWarnRepeat);
}

void CDlgCfg::ApplyPortRule() {
    const bool serial = SerialPortEnabled(upsType_->currentIndex());
    comPort_->setEnabled(serial);
    comPortLabel_->setEnabled(serial);
}

void CDlgCfg::Browse() {
    if (!chooseProgram) return;
    const QString chosen = chooseProgram(this, programCmdLine_->text());
    if (chosen.isEmpty()) return;
    // The field would cut a longer path silently; say so and keep what was there.
    if (chosen.toStdString().size() > ups::CConfig::kMaxProgramLength) {
        if (showRangeMessage) showRangeMessage(this, LengthText(ups::CConfig::kMaxProgramLength));
        programCmdLine_->setFocus();
        return;
    }
    programCmdLine_->setText(chosen);
    programCmdLine_->setCursorPosition(0);
}

void CDlgCfg::RunSub(QDialog& dialog) {
    if (runModal) runModal(dialog);
}

std::array<CDlgCfg::Range, 4> CDlgCfg::Ranges() const {
    std::array<Range, 4> ranges = {{
        {"dataLogInterval", dataLogInterval_, 0, 600},
        {"acFailDelay", acFailDelay_, 1, 2880},
        {"batteryLowDelay", batteryLowDelay_, 1, 600},
        {"warnRepeat", warnRepeat_, 10, 600},
    }};
    // Never accept what the agent would refuse to store, should its ranges ever be narrower.
    for (auto& r : ranges) {
        if (const auto* field = ups::FindConfigField(r.field)) {
            r.min = static_cast<int>(std::max<std::int64_t>(r.min, field->min));
            r.max = static_cast<int>(std::min<std::int64_t>(r.max, field->max));
        }
    }
    return ranges;
}

bool CDlgCfg::CheckRange(const Range& range) {
    range.edit->interpretText();
    const int value = range.edit->value();
    if (value >= range.min && value <= range.max) return true;
    if (showRangeMessage) showRangeMessage(this, RangeText(range.min, range.max));
    range.edit->setFocus();
    range.edit->selectAll();
    return false;
}

bool CDlgCfg::Validate() {
    for (QComboBox* list : {upsType_, comPort_}) {
        if (list->currentIndex() < 0) {
            if (showRangeMessage) showRangeMessage(this, RangeText(0, list->count() - 1));
            list->setFocus();
            return false;
        }
    }
    const auto ranges = Ranges();
    if (!CheckRange(ranges[0])) return false;
    std::size_t maxPath = ups::CConfig::kMaxProgramLength;
    if (const auto* field = ups::FindConfigField("programCmdLine")) {
        maxPath = std::min(maxPath, field->maxLength);
    }
    // The record counts bytes, and a character past ASCII takes more than one.
    if (programCmdLine_->text().toStdString().size() > maxPath) {
        if (showRangeMessage) showRangeMessage(this, LengthText(maxPath));
        programCmdLine_->setFocus();
        return false;
    }
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (!CheckRange(ranges[i])) return false;
    }
    return true;
}

ups::CConfig CDlgCfg::Collected() const {
    ups::CConfig c = record_;
    c.upsType = upsType_->currentIndex();
    c.comPort = comPort_->currentIndex();
    c.agentPassword = password_->text().toStdString();
    c.dataLogOn = dataLogOn_->isChecked() ? 1 : 0;
    c.dataLogInterval = dataLogInterval_->value();
    c.showWarnings = showWarnings_->isChecked() ? 1 : 0;
    c.emailOn = emailOn_->isChecked() ? 1 : 0;
    c.pagerOn = pagerOn_->isChecked() ? 1 : 0;
    c.runProgram = runProgram_->isChecked() ? 1 : 0;
    c.programCmdLine = programCmdLine_->text().toStdString();
    c.closeApps = closeApps_->isChecked() ? 1 : 0;
    c.shutdownWindows = shutdownWindows_->isChecked() ? 1 : 0;
    c.turnUpsOff = turnUpsOff_->isChecked() ? 1 : 0;
    c.showLastShutdown = showLastShutdown_->isChecked() ? 1 : 0;
    c.acFailDelay = acFailDelay_->value();
    c.batteryLowDelay = batteryLowDelay_->value();
    c.upsOffDelay = DelayIndexToSeconds(upsOffDelay_->currentIndex());
    c.warnRepeat = warnRepeat_->value();
    ApplyBaudRule(c);
    return c;
}

void CDlgCfg::accept() {
    if (!Validate()) return;
    const ups::CConfig c = Collected();
    Trace("real value index is ", upsOffDelay_->currentIndex(), "\n");
    Trace("shutdelay is ", c.upsOffDelay, " Seconds\n");
    const int back = DelaySecondsToIndex(c.upsOffDelay);
    Trace("converted back 1 is ", back, "\n");
    Trace("converted back 2 is ", DelayIndexToSeconds(back), "\n");
    record_ = c;
    emit configAccepted(record_);
    QDialog::accept();
}

void CDlgCfg::reject() {
    emit cancelled();
    QDialog::reject();
}

void CDlgCfg::closeEvent(QCloseEvent* event) {
    // The title-bar close leaves like Cancel, but not while the battery-low delay or the
    // warning interval holds a value the agent could not work with; the message says which.
    const auto ranges = Ranges();
    const Range& batteryLow = ranges[2];
    const Range& warnRepeat = ranges[3];
    batteryLow.edit->interpretText();
    warnRepeat.edit->interpretText();
    if (batteryLow.edit->value() > batteryLow.max) {
        CheckRange(batteryLow);
        event->ignore();
        return;
    }
    if (warnRepeat.edit->value() < warnRepeat.min) {
        CheckRange(warnRepeat);
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace kelvora::panel
