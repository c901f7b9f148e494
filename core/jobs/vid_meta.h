// Setting or removing keys of a clip's metadata (its sensor description among them) without
// re-encoding a frame: the records are copied verbatim behind a new clip block that keeps the
// timestamps, frame rate, start time and identity. The file is rewritten under a temporary name
// beside it, synced and renamed: until then the original stays as it was. The job behind
// `vid meta` and Python's vid.set_metadata.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "vid_result.h"

// Sets each (key, JSON value) of `set` and removes each key of `unset` in the metadata of the
// file at `path`; a file without a clip block gets one (no timestamps, rate or start time
// known). The new metadata must describe the clip (vid_sensor.h: a key that cannot hold is
// refused, naming it). False with `error` (the file untouched) when the file cannot be read,
// is still being written (its writer has not finished), or cannot be replaced; `metadata`
// then holds the new metadata on success.
bool vid_set_metadata(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& set,
                      const std::vector<std::string>& unset, VidError& error,
                      std::string* metadata = nullptr);
