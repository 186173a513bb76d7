// `kelvora config`.
#pragma once

int vornii_config();
