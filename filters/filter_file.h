#pragma once

#include "filters/ip_filter.h"

#include <stdexcept>
#include <string>

// A filter file that cannot be read or written; the message is the user's.
class EFilterFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Fills `filter` from the "version1" file at `path`. Throws EFilterFileError:
// "File Not Found", "File Not Support", the conversion error of a number line
// ("'x' is not a valid integer value"), or the input/output error. Fields read
// before a failure stay in the record.
void LoadFilter(TIPFilter &filter, const std::string &path);
// Writes `filter` to folder + Name + ".flt" atomically (a temporary file in
// the same folder, then rename). Throws EFilterFileError when it cannot.
void SaveFilter(const TIPFilter &filter, const std::string &folder);
