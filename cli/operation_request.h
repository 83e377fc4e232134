#pragma once

#include "cli/cli_options.h"
#include "runner/module_session.h"

#include <QString>

// What every module of one command gets, built in one place for the one-shot
// commands and line mode. A download's image is read once, here: an image
// that cannot be sent whole fails every module alike before any hears a
// command, and its SHA-256 is pinned so that a file changed afterwards is not
// sent (image_changed). Why the image cannot be sent (image_not_found,
// image_too_large); none when the request can go out.
Failure prepare_request(const CliOptions &options, ModuleSession::Request *request);
