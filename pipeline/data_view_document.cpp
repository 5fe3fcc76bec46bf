#include "pipeline/data_view_document.h"

#include <algorithm>
#include <iterator>
#include <new>

void TDataViewDocument::AppendItem(std::string_view item) {
  if (!ApplyItem(item, attributes_))
    return;
  const size_t oldText = text_.size();
  const size_t oldLines = lineEnds_.size();
  const size_t oldRuns = runs_.size();
  try {
    ForEachItemLine(item, [this](std::string_view line) { appendLine(line); });
  } catch (const std::bad_alloc &) {
    // A view that cannot grow drops the item whole and keeps the lines it
    // had, so the flush can go on with the next item.
    text_.resize(oldText);
    lineEnds_.resize(oldLines);
    runs_.resize(oldRuns);
  }
}

void TDataViewDocument::appendLine(std::string_view text) {
  if (runs_.empty() || !(runs_.back().attributes == attributes_))
    runs_.push_back({lineEnds_.size(), attributes_});
  text_.append(text);
  lineEnds_.push_back(text_.size());
}

void TDataViewDocument::Clear() {
  // Swapping with empty containers hands the memory back: clearing is what a
  // user does to a view that has grown too large.
  std::string().swap(text_);
  std::vector<uint64_t>().swap(lineEnds_);
  std::vector<Run>().swap(runs_);
}

TStyledLine TDataViewDocument::Line(size_t index) const {
  if (index >= lineEnds_.size())
    return {};
  const uint64_t begin = index == 0 ? 0 : lineEnds_[index - 1];
  const auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                    [](size_t line, const Run &r) { return line < r.firstLine; });
  return {std::string_view(text_).substr(begin, lineEnds_[index] - begin),
          std::prev(run)->attributes};
}
