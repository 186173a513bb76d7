#pragma once

// 1 when the real user is the super-user; otherwise explains on standard error and returns 0.
int ChkUserID();
