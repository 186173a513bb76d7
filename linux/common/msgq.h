// The five System V message queues through which vornd and kelvora talk, keyed on the root
// directory so that two roots never share queues.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

// Project ids of ftok(root, id).
inline constexpr int kStatusQueueId = '1';     // daemon -> console: types 1, 2, 3 (replies)
inline constexpr int kHeartbeatQueueId = '2';  // daemon -> console: type 4
inline constexpr int kControlQueueId = '3';    // console -> daemon: type 5 control text
inline constexpr int kRedrawQueueId = '4';     // daemon/console -> console: type 5
inline constexpr int kCommandQueueId = '5';    // console -> daemon: type 9 issuer command

inline constexpr long kMsgStatus = 1;
inline constexpr long kMsgModel = 2;
inline constexpr long kMsgRating = 3;
inline constexpr long kMsgHeartbeat = 4;
inline constexpr long kMsgControl = 5;
inline constexpr long kMsgCommand = 9;

inline constexpr std::size_t kMsgTextMax = 100;

// Control texts (type 5): position 0 stop, 1 configuration changed, 2 redraw the screen.
inline constexpr std::string_view kCtrlTextStop = "100";    // kelvora stop
inline constexpr std::string_view kCtrlTextReload = "010";  // the configuration screen
inline constexpr std::string_view kCtrlTextRedraw = "001";  // the daemon, after every warning

// Heartbeats (type 4): twice at start, then on every poll cycle and connect attempt.
inline constexpr std::string_view kHeartbeatStart = "abc";
inline constexpr std::string_view kHeartbeatAlive = "axy";

// Issuer commands (type 9): one letter, the timed test followed by two decimal digits ("c05").
inline constexpr char kIssueTenSecondTest = 'a';
inline constexpr char kIssueTestUntilLow = 'b';
inline constexpr char kIssueTimedTest = 'c';
inline constexpr char kIssueShutdownNow = 'd';
inline constexpr char kIssueCancelShutdown = 'e';
inline constexpr char kIssueCancelTest = 'f';

// ReadCtrlMsg results.
inline constexpr int kCtrlStop = 2;
inline constexpr int kCtrlReload = 1;
inline constexpr int kCtrlRedraw = 3;
inline constexpr int kCtrlUnknown = -2;
inline constexpr int kCtrlNone = -1;

// The daemon's status block: slot 0 the last status reply, 1 the model, 2 the rating.
using StatusBlock = std::array<std::string, 3>;

// Opens the queue for project id `id`, creating it if absent; the queue id or -1.
int CreateMsgQ(int id);
// The daemon's variant: makes sure the queue belongs to the calling user with the mode it
// should have, removing one that another user created or loosened and creating its own in its
// place (exclusively, so a user racing to re-create the key never wins). The control and
// command queues are 0600, so no unprivileged user can stop the daemon or make it switch the
// UPS off; the others are 0644, readable by an ordinary user's status screen. -1 when the
// queue cannot be had.
int ClaimMsgQ(int id);

int Create4MsgQ(int* status, int* heartbeat, int* control, int* redraw);
int Clear4MsgQ(int status, int heartbeat, int control, int redraw);
int Destroy4MsgQ(int status, int heartbeat, int control, int redraw);
int ClearMsgQ(int q);
int DestroyMsgQ(int q);

// Sends without waiting; the text (at most 100 bytes) without its NUL. 1 or -1.
int SendMsg(int q, long type, std::string_view text);
// Receives without waiting the first message of `type` (0: any), cut to 100 bytes; 1 with the
// text in `out`, or -1 when there is none (a message of length 0 counts as none).
int ReceiveMsg(int q, long type, std::string& out);
int MsgNumber(int q);
// When the last message was sent to the queue (seconds of the calendar clock), or -1.
long long LastSendTime(int q);
// Bounded send: drops the oldest messages first so that after it the queue holds at most 3
// (type 5), 6 (type 4) or 10 (any other type) messages.
int SendToMsgQ(int q, long type, std::string_view text);
int SendMessages(int status_queue, const StatusBlock& block);
int SendRedrawMsg();
int ReadCtrlMsg(int q);
// Decodes a control text: stop wins over reload, reload over redraw.
int DecodeCtrlText(std::string_view text);

// An issuer command taken apart: the letter, and for the timed test its minutes (0 to 99).
struct IssuerCommand {
    char letter = 0;
    int minutes = 0;
};
// Empty (letter 0) for anything that is no command: an unknown letter, or a timed test without
// its two digits (read as 0 it would start a test that runs the battery flat).
IssuerCommand DecodeIssuerCmd(std::string_view text);

// Whether a daemon runs in this root. Whoever can open the daemon's lock file (the super-user)
// asks the lock, which no other user can take, fake or drain; with no lock file in a root the
// caller may write to, none runs. Anyone else watches for a fresh heartbeat within nine seconds
// (a stale one is not enough).
int InstanceExist();
// The heartbeat test alone, pausing with `wait_a_second` between its nine looks.
int FreshHeartbeat(const std::function<void()>& wait_a_second);
// Quick test for the status screens: consumes one waiting heartbeat; 1 if there was one.
int VorndPresent();
