// `kelvora issuer`.
#pragma once

int vornii_issuer();
