#pragma once

// What pcom's exit status tells the caller.
namespace ExitCode {
enum : int {
    // The link was closed in an orderly way: by us, by the peer, or on a signal.
    Ok = 0,
    // The link failed: refused, host not found, reset, bind failure, no open.
    LinkFailure = 1,
    // The command line was wrong; nothing was opened.
    BadInput = 2,
};
}
