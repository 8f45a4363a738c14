#pragma once
// zoc apply NAME [options] IN... -o DIR: the same settings over many files,
// several at a time.

#include "tools/zoc/Cli.h"
#include "tools/zoc/Commands.h"

namespace zoc::tool {

/// True when `words` ask for a batch (-o or --output DIR).
bool IsBatch(const Words& words);

/// Runs `zoc apply` once per input into the output directory, --jobs files
/// at a time; one line per file and a summary. Exit code 1 when any file
/// failed; a usage error before anything runs when the batch is malformed.
int RunApplyBatch(const Words& words, Context& context);

} // namespace zoc::tool
