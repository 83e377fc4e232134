#pragma once

// Why an operation on a module failed, as the value made where it failed
// (the download session, the worker, the module session, line mode, the
// command line's image check) and carried as it is to the operation's
// record. Nothing parses words back: the journal's words for each value are
// journal_format's, the operator's are each front end's. Free of Qt, so that
// the journal's format can name it.
enum class Failure {
    none,                // the operation did not fail
    port_not_opened,
    no_reply,            // the identity query had no answer
    image_not_found,     // none chosen, or none that can be read whole
    image_too_large,     // longer than the transfer's signed 32-bit length
    image_changed,       // no longer the bytes checked before the first module
    no_acknowledgement,  // the download command had no "+ok"
    transfer_error,      // the XMODEM transmitter gave up: its code goes along
    interrupted,         // cancelled by the operator, or the program ended
    unplugged,           // line mode: the module left during the operation
    done_before,         // refused: an ok record of it exists (the again policy's block)
};
// The last of them: the tables that hold a line for each check their length
// against it.
constexpr Failure last_failure = Failure::done_before;

// A failure with what it carries. Made from a Failure alone wherever no code
// goes with it.
struct OperationFailure
{
    constexpr OperationFailure(Failure kind = Failure::none, int code = 0)
        : kind(kind)
        , code(kind == Failure::transfer_error ? code : 0)
    {
    }
    constexpr explicit operator bool() const { return kind != Failure::none; }
    constexpr bool operator==(const OperationFailure &other) const { return kind == other.kind && code == other.code; }
    constexpr bool operator!=(const OperationFailure &other) const { return !(*this == other); }

    Failure kind;
    int code;  // transfer_error: the transmitter's result (-1, -2, -4); else 0
};
