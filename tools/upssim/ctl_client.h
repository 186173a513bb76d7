// "upssim ctl SOCKPATH WORDS...": one control request from a shell script.
#pragma once

namespace upssim {

// Sends the words as one request and prints the answer; 0 when it is "ok", 1 otherwise.
int run_ctl(int argc, char** argv);

}  // namespace upssim
