// Harborlight's version, held here alone: the version resource and the About
// box are made from it, and the build and the release script read it.
#pragma once

#define HARBORLIGHT_VERSION_MAJOR 1
#define HARBORLIGHT_VERSION_MINOR 1
#define HARBORLIGHT_VERSION_PATCH 0

#define HARBORLIGHT_STRINGIZE_(x) #x
#define HARBORLIGHT_STRINGIZE(x) HARBORLIGHT_STRINGIZE_(x)
// "1.1": what the About box shows.
#define HARBORLIGHT_VERSION_SHORT \
    HARBORLIGHT_STRINGIZE(HARBORLIGHT_VERSION_MAJOR) "." HARBORLIGHT_STRINGIZE(HARBORLIGHT_VERSION_MINOR)
// "1.1.0": the release's name.
#define HARBORLIGHT_VERSION_TEXT \
    HARBORLIGHT_VERSION_SHORT "." HARBORLIGHT_STRINGIZE(HARBORLIGHT_VERSION_PATCH)
