// The five System V message queues through which vornd and kelvora talk, keyed on the root
// directory so that two roots never share queues.
#pragma once

#include <array>
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
// should have, removing and re-creating one that another user created or loosened. The
// control and command queues are 0600, so no unprivileged user can stop the daemon or make it
// switch the UPS off; the others are 0644, readable by an ordinary user's status screen.
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
// Bounded send: drops the oldest messages first so that after it the queue holds at most 3
// (type 5), 6 (type 4) or 10 (any other type) messages.
int SendToMsgQ(int q, long type, std::string_view text);
int SendMessages(int status_queue, const StatusBlock& block);
int SendRedrawMsg();
int ReadCtrlMsg(int q);
// Decodes a control text: stop wins over reload, reload over redraw.
int DecodeCtrlText(std::string_view text);

// Whether a daemon lives: a fresh heartbeat within nine seconds (a stale one is not enough).
int InstanceExist();
// Quick test for the status screens: consumes one waiting heartbeat; 1 if there was one.
int VorndPresent();
