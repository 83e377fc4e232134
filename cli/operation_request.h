#pragma once

#include "cli/cli_options.h"
#include "runner/module_session.h"

#include <QString>

// What every module of one command gets, built in one place for the one-shot
// commands and line mode. A download's image is read once, here: an image
// that cannot be sent whole fails every module alike before any hears a
// command, and its SHA-256 is pinned so that a file changed afterwards is not
// sent ("image changed"). False, with the journal's reason, when the image
// cannot be sent.
bool prepare_request(const CliOptions &options, ModuleSession::Request *request, QString *refused);
