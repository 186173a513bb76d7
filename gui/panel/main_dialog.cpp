#include "main_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "gui/panel/which_ups_dialog.h"
#include "gui/views/animated_picture.h"
#include "gui/views/bar_icons.h"
#include "gui/views/chart_page.h"
#include "gui/views/digital_page.h"
#include "gui/views/meter_page.h"
#include "gui/views/picture_page.h"
#include "ups_lib/trace.h"

namespace kelvora::panel {

namespace lk = ups::link;

namespace {

constexpr const char* kBarTexts[10] = {"選擇UPS",  "參數設定",     "工作排程", "資料記錄",
                                       "事件記錄", "每月事件記錄", "控制",     "關機檔案",
                                       "關於",     "離開"};

constexpr std::array<gui::AnimatedPicture::Kind, kPictureCount> kPictureKinds = {
    gui::AnimatedPicture::Kind::Earth,  gui::AnimatedPicture::Kind::Disconnected,
    gui::AnimatedPicture::Kind::AcFail, gui::AnimatedPicture::Kind::BatteryLow,
    gui::AnimatedPicture::Kind::UpsBad, gui::AnimatedPicture::Kind::UpsAvr,
    gui::AnimatedPicture::Kind::UpsTest};

}  // namespace

Prompts Prompts::Interactive() {
    Prompts p;
    p.retryConnect = [](QWidget* parent) {
        return QMessageBox::question(parent, kPanelTitle, "Can not connect server. Retry?",
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    p.changeWrongPassword = [](QWidget* parent) {
        return QMessageBox::question(parent, kPanelTitle,
                                     "Wrong Password, modify password and connect again?",
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    p.cannotConnectLocal = [](QWidget* parent) {
        QMessageBox::information(parent, kPanelTitle, "Cannot connect to local agent");
    };
    return p;  // chooseUps: the dialog's own selection dialog
}

CGUI2Dlg::CGUI2Dlg(std::unique_ptr<ups::platform::Registry> registry, Prompts prompts,
                   LocalTransport local, QWidget* parent)
    : QWidget(parent),
      registry_(std::move(registry)),
      prompts_(std::move(prompts)),
      transport_(local) {
    setWindowTitle(kPanelTitle);
    setWindowIcon(gui::AppIcon());
    auto* top = new QHBoxLayout(this);
    BuildIconBar();
    top->addWidget(bar_);
    auto* right = new QVBoxLayout;
    BuildPages();
    right->addWidget(tabs_, 3);
    right->addWidget(BuildStatusPanel(), 2);
    top->addLayout(right, 1);
    resize(1000, 720);

    // The agent's configuration as this machine keeps it, until the agent sends its own.
    state_.config().Load();

    startUp_.setSingleShot(true);
    connect(&startUp_, &QTimer::timeout, this, &CGUI2Dlg::StartUp);
    connect(&retry_, &QTimer::timeout, this, &CGUI2Dlg::RetryTick);
    connect(&onBattery_, &QTimer::timeout, this, [this] {
        state_.TickOnBatteryClock();
        ShowState();
    });
    connect(&refresh_, &QTimer::timeout, this, &CGUI2Dlg::Refresh);
    refresh_.start(1000);
    startUp_.start(150);
    ShowState();
}

CGUI2Dlg::~CGUI2Dlg() = default;

void CGUI2Dlg::BuildIconBar() {
    bar_ = new QListWidget(this);
    bar_->setViewMode(QListView::IconMode);
    bar_->setIconSize(QSize(32, 32));
    bar_->setFlow(QListView::TopToBottom);
    bar_->setMovement(QListView::Static);
    bar_->setSpacing(6);
    bar_->setGridSize(QSize(96, 64));
    bar_->setFixedWidth(112);
    bar_->setStyleSheet(
        "QListWidget { background: rgb(128,128,128); color: white; border: none; }");
    for (int i = 0; i < 10; ++i)
        bar_->addItem(new QListWidgetItem(gui::BarIcon(i), QString::fromUtf8(kBarTexts[i])));
    connect(bar_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Activate(bar_->row(item)); });
}

void CGUI2Dlg::BuildPages() {
    tabs_ = new QTabWidget(this);
    meter_ = new gui::MeterPage;
    digital_ = new gui::DigitalPage;
    picture_ = new gui::PicturePage;
    chart_ = new gui::ChartPage;
    tabs_->addTab(meter_, QString::fromUtf8("碼表"));
    tabs_->addTab(digital_, QString::fromUtf8("數字"));
    tabs_->addTab(picture_, QString::fromUtf8("圖示"));
    tabs_->addTab(chart_, QString::fromUtf8("圖表"));
    tabs_->setStyleSheet("QTabBar::tab { min-width: 90px; padding: 2px 6px; }");
    // A page shows the values as it comes up, not a second later.
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { Refresh(); });
    connect(meter_, &gui::MeterPage::temperatureClicked, this, [this] {
        state_.ToggleRawReplies();
        ShowState();
    });
}

QWidget* CGUI2Dlg::BuildStatusPanel() {
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    const QString clockStyle =
        "QLabel { background: rgb(0,255,255); color: black; padding: 2px 6px; }";
    auto addLabel = [&](Label l, int row, int column) {
        auto* label = new QLabel(panel);
        labels_[static_cast<std::size_t>(l)] = label;
        grid->addWidget(label, row, column);
    };
    auto addPicture = [&](Picture p, int row, int column) {
        auto* picture = new gui::AnimatedPicture(kPictureKinds[static_cast<std::size_t>(p)], panel);
        pictures_[static_cast<std::size_t>(p)] = picture;
        grid->addWidget(picture, row, column, Qt::AlignCenter);
    };
    addPicture(Picture::Earth, 0, 0);
    addPicture(Picture::Disconnected, 0, 1);
    addLabel(Label::Connection, 0, 2);
    addPicture(Picture::AcFail, 1, 0);
    addLabel(Label::Utility, 1, 2);
    addPicture(Picture::BatteryLow, 2, 0);
    addLabel(Label::Battery, 2, 2);
    addPicture(Picture::UpsBad, 0, 3);
    addLabel(Label::Fault, 0, 4);
    addPicture(Picture::UpsAvr, 1, 3);
    addLabel(Label::Avr, 1, 4);
    addPicture(Picture::UpsTest, 2, 3);
    addLabel(Label::SelfTest, 2, 4);
    addLabel(Label::OnBattery, 3, 0);
    onBatteryClock_ = new QLabel(panel);
    onBatteryClock_->setStyleSheet(clockStyle);
    grid->addWidget(onBatteryClock_, 3, 1, 1, 2);
    addLabel(Label::Countdown, 3, 3);
    countdownClock_ = new QLabel(panel);
    countdownClock_->setStyleSheet(clockStyle);
    grid->addWidget(countdownClock_, 3, 4);

    const char* titles[3] = {"UPS製造廠商", "UPS機型", "UPS版本"};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(QString::fromUtf8(titles[i]), panel), 4, i * 2 % 6);
        auto* field = new QLabel(panel);
        field->setStyleSheet("QLabel { color: rgb(0,0,255); }");
        basicFields_[static_cast<std::size_t>(i)] = field;
        grid->addWidget(field, 4, i * 2 % 6 + 1);
    }
    messages_ = new QListWidget(panel);
    grid->addWidget(messages_, 0, 5, 4, 1);
    grid->setColumnStretch(5, 1);
    return panel;
}

// ---- the link ----------------------------------------------------------------------------------

bool CGUI2Dlg::linked() const {
    return (link_ && link_->IsOpen()) || (local_ && local_->IsOpen());
}

void CGUI2Dlg::Send(const std::vector<std::uint8_t>& message) {
    // The socket when there is one (the local agent over TCP, or a remote one), else the
    // copy-data link.
    if (link_) {
        link_->Send(message);
    } else if (local_) {
        local_->Send(message);
    }
}

std::uint16_t CGUI2Dlg::AgentPort() const {
    if (const char* text = std::getenv("TORVANE_TCP_PORT"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long port = std::strtol(text, &end, 10);
        if (*end == '\0' && port > 0 && port < 65536) return static_cast<std::uint16_t>(port);
    }
    return lk::kDefaultTcpPort;
}

void CGUI2Dlg::DropLinks() {
    if (!link_ && !local_) return;
    DropPendingSaves();
    if (link_) {
        link_->Close();  // with code 2 first
        link_.release()->deleteLater();
    }
    if (local_) {
        local_->Close();
        local_.reset();
    }
    emit linkChanged(false);
}

void CGUI2Dlg::OpenLink(const QString& host, std::uint16_t port, const QString& password) {
    DropLinks();
    link_ =
        std::make_unique<AgentLink>([this](const lk::Message& m) { OnMessage(m, Via::Socket); });
    auto* link = link_.get();
    connect(link, &AgentLink::connected, this, [this] {
        connecting_ = false;
        // A remote agent given up for the local one: the panel stays with it.
        if (attempt_ == Attempt::Retry) {
            localRemote_ = 0;
            registry_->WriteDword(kPanelConfigKey, "LocalRemote", 0);
        }
        emit linkChanged(true);
    });
    connect(link, &AgentLink::failed, this, [this, link, host, port, password] {
        if (link_.get() != link) return;
        // The question waits for its answer without holding the window: its own loop runs.
        if (prompts_.retryConnect && prompts_.retryConnect(this)) {
            link->Open(host, port, password);
            return;
        }
        connecting_ = false;
        link_.release()->deleteLater();
        emit linkChanged(false);
        if (attempt_ == Attempt::StartUp) {
            ChooseUps();
        } else if (attempt_ == Attempt::Initialize && localRemote_ == 0 &&
                   prompts_.cannotConnectLocal) {
            prompts_.cannotConnectLocal(this);
        }
    });
    connect(link, &AgentLink::lost, this, [this, link](const QString& why) {
        if (link_.get() != link) return;
        ups::Trace("Link lost: " + why.toStdString() + "\n");
        DropPendingSaves();
        state_.AddMessage(localRemote_ == 0 ? "Local Agent Closed" : "Remote Agent Closed");
        state_.DisconnectedReset();
        link_.release()->deleteLater();
        emit linkChanged(false);
        ShowState();
    });
    connecting_ = true;
    link->Open(host, port, password);
}

// The caption the panel's copy-data endpoint answers to. On Windows an endpoint is a hidden
// window of that title, which must differ from the dialog's own, or the agent could find the
// dialog instead; the agent answers at whatever caption the panel registered with.
#ifdef _WIN32
constexpr const char* kLinkCaption = "Kelvora 2000 for Windows link";
#else
constexpr const char* kLinkCaption = kPanelTitle;
#endif

bool CGUI2Dlg::ConnectLocal() {
    state_.ConnectReset();
    if (transport_ == LocalTransport::Tcp) {
        OpenLink(QStringLiteral("127.0.0.1"), AgentPort(), QString::fromLatin1(kLocalPassword));
        return true;
    }
    DropLinks();
    local_ = std::make_unique<LocalAgentLink>(
        [this](const lk::Message& m) { OnMessage(m, Via::CopyData); }, kLinkCaption);
    std::string error;
    if (local_->Open(&error)) {
        emit linkChanged(true);
        if (attempt_ == Attempt::Retry) {
            localRemote_ = 0;
            registry_->WriteDword(kPanelConfigKey, "LocalRemote", 0);
        }
        return true;
    }
    // Silent: the periodic retry keeps trying, the first attempt lets the user choose.
    ups::Trace("No copy-data link: " + error + "\n");
    local_.reset();
    if (attempt_ == Attempt::StartUp) ChooseUps();
    return false;
}

void CGUI2Dlg::ConnectRemote() {
    state_.ConnectReset();
    // The password is never traced or logged.
    OpenLink(address_, AgentPort(), password_);
}

void CGUI2Dlg::InitializeClient() {
    ups::Trace("initialize client\n");
    if (localRemote_ == 0 ? (link_ || local_) : link_ != nullptr) return;
    attempt_ = Attempt::Initialize;
    if (localRemote_ == 0) {
        ConnectLocal();
    } else {
        ConnectRemote();
    }
}

void CGUI2Dlg::StartUp() {
    retry_.start(5000);
    ups::Trace("timer connect local *******************\n");
    if (link_ || local_) return;  // an agent was chosen already
    attempt_ = Attempt::StartUp;
    ConnectLocal();
}

void CGUI2Dlg::RetryTick() {
    if (local_ && !local_->AgentPresent()) {
        // The agent went without a word: the panel says so and calls again on later ticks.
        state_.AddMessage("Local Agent Closed");
        DropPendingSaves();
        state_.DisconnectedReset();
        local_.reset();
        emit linkChanged(false);
        ShowState();
        return;
    }
    if (link_ || local_) return;
    attempt_ = Attempt::Retry;
    ConnectLocal();
}

void CGUI2Dlg::Select(int localRemote, const QString& address, const QString& password) {
    DropLinks();
    // Edits made on one agent's records are not saved on another's.
    scheduleEdits_.clear();
    if (cfg_) cfg_->reject();
    if (schedule_) schedule_->reject();
    localRemote_ = localRemote;
    if (localRemote == 1) {
        address_ = address;
        password_ = password;
    }
    InitializeClient();
}

void CGUI2Dlg::ChooseUps() {
    if (prompts_.chooseUps) {
        prompts_.chooseUps(this);
        return;
    }
    CDlgWhichUPS dialog(*registry_, localRemote_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    Select(dialog.localRemote(), dialog.address(), dialog.password());
}

void CGUI2Dlg::OnMessage(const lk::Message& message, Via via) {
    const Effects e = state_.Apply(message, via);
    for (const auto& m : e.send) Send(m);
    FillDialogs(e);
    if (e.startOnBatteryClock) onBattery_.start(1000);
    if (e.stopOnBatteryClock) onBattery_.stop();
    if (e.dropLink) {
        DropPendingSaves();
        if (via == Via::Socket && link_) {
            link_->Close();
            link_.release()->deleteLater();
        } else if (via == Via::CopyData && local_) {
            // Not from inside its own delivery: the link goes once this record is handled.
            local_.release()->deleteLater();
        }
        emit linkChanged(false);
    }
    if (e.reconnect) InitializeClient();
    ShowState();
    emit recordHandled(message.code);
    if (e.askWrongPassword && prompts_.changeWrongPassword && prompts_.changeWrongPassword(this)) {
        ChooseUps();
    }
}

void CGUI2Dlg::Activate(int index) {
    switch (index) {
        case 0:
            ChooseUps();
            break;
        case 1:
            OpenConfig();
            break;
        case 2:
            OpenSchedule();
            break;
        case 3:
            OpenDataList();
            break;
        case 4:
            OpenEventList();
            break;
        case 5:
            OpenCalendar();
            break;
        case 6:
            OpenControl();
            break;
        case 7:
            OpenLastInfo();
            break;
        case 8:
            QMessageBox::about(this, kPanelTitle,
                               "Kelvora 2000 for Windows\nThe control panel of the Torvane agent");
            break;
        case 9:
            close();
            break;
        default:
            break;
    }
}

// ---- drawing ----------------------------------------------------------------------------------

QString CGUI2Dlg::LabelText(Label l) const {
    return labels_[static_cast<std::size_t>(l)]->text();
}

bool CGUI2Dlg::LabelEnabled(Label l) const {
    return labels_[static_cast<std::size_t>(l)]->isEnabled();
}

QString CGUI2Dlg::OnBatteryClockText() const {
    return onBatteryClock_->text();
}

QString CGUI2Dlg::CountdownClockText() const {
    return countdownClock_->text();
}

bool CGUI2Dlg::PictureRunning(Picture p) const {
    return pictures_[static_cast<std::size_t>(p)]->Running();
}

void CGUI2Dlg::ShowState() {
    for (std::size_t i = 0; i < kLabelCount; ++i) {
        const LabelState& s = state_.label(static_cast<Label>(i));
        labels_[i]->setText(QString::fromStdString(s.text));
        labels_[i]->setEnabled(s.enabled);
    }
    onBatteryClock_->setText(QString::fromStdString(state_.onBatteryClock().text));
    onBatteryClock_->setEnabled(state_.onBatteryClock().enabled);
    countdownClock_->setText(QString::fromStdString(state_.countdownClock().text));
    countdownClock_->setEnabled(state_.countdownClock().enabled);
    for (std::size_t i = 0; i < kPictureCount; ++i) {
        const PictureState& s = state_.picture(static_cast<Picture>(i));
        auto* picture = pictures_[i];
        picture->setEnabled(s.enabled);
        if (s.running && !picture->Running()) picture->Start();
        if (!s.running && picture->Running()) {
            picture->Stop();
            picture->Reset();
        }
    }
    picture_->SetMode(state_.pictureMode());
    if (state_.pictureAnimating()) {
        picture_->StartAll();
    } else {
        picture_->StopAll();
    }
    // New lines of the message list go on top, the newest first.
    const auto& lines = state_.messages();
    const std::size_t fresh =
        std::min<std::uint64_t>(state_.messagesAdded() - messagesShown_, lines.size());
    for (std::size_t i = fresh; i-- > 0;)
        messages_->insertItem(0, QString::fromStdString(lines[i]));
    messagesShown_ = state_.messagesAdded();
    while (static_cast<std::size_t>(messages_->count()) > lines.size())
        delete messages_->takeItem(messages_->count() - 1);
}

void CGUI2Dlg::Refresh() {
    const bool connected = state_.connected();
    const ups::UPSStatusValues s = connected ? state_.status() : ups::UPSStatusValues{};
    const ups::UPSBasicValues& b = state_.basic();
    basicFields_[0]->setText(connected ? QString::fromStdString(b.company) : QString());
    basicFields_[1]->setText(connected ? QString::fromStdString(b.model) : QString());
    basicFields_[2]->setText(connected ? QString::fromStdString(b.version) : QString());
    if (connected) {
        chart_->Update(s.inputVoltage, s.outputVoltage);
        digital_->Update(s.inputVoltage, s.outputVoltage, s.inputFrequency, s.batteryCapacity,
                         s.load, s.temperature);
    }
    if (tabs_->currentIndex() == 0 && meter_->isVisible()) {
        meter_->Update(s.inputVoltage, s.outputVoltage, s.inputFrequency, s.batteryCapacity, s.load,
                       s.temperature);
    } else if (tabs_->currentIndex() == 2) {
        const int upsType = state_.config().upsType;
        const int type = (upsType == 3 || upsType == 4) ? 2 : state_.online() ? 0 : 1;
        picture_->UpdateValues(s.inputVoltage, s.outputVoltage, s.batteryCapacity, s.load, type);
        const ups::UPSRatingValues r = connected ? state_.rating() : ups::UPSRatingValues{};
        picture_->UpdateRatings(r.voltage, r.current, r.batteryVoltage, r.frequency);
    }
}

void CGUI2Dlg::closeEvent(QCloseEvent* event) {
    refresh_.stop();
    retry_.stop();
    DropLinks();
    event->accept();
}

}  // namespace kelvora::panel
