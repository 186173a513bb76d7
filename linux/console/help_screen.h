// `kelvora help`.
#pragma once

int vornii_help();
