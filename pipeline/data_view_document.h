#pragma once

#include "pipeline/data_view_items.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The Data View's content without a widget: the lines the flushed items gave,
// each with the attributes it was appended with. A long capture can put tens
// of millions of lines here, so the text lives in one buffer with the end
// offset of each line, and attributes are kept as runs of lines.
class TDataViewDocument : public TStyledLineSource {
public:
  // One queued item: a tag changes Attributes(), text becomes lines.
  void AppendItem(std::string_view item);
  // Removes every line; Attributes() stay, as a cleared rich edit keeps its
  // insertion attributes.
  void Clear();

  size_t LineCount() const override { return lineEnds_.size(); }
  TStyledLine Line(size_t index) const override;
  // The attributes the next appended text receives.
  const TTextAttributes &Attributes() const { return attributes_; }

private:
  struct Run {
    size_t firstLine;
    TTextAttributes attributes;
  };

  void appendLine(std::string_view text);

  std::string text_;
  std::vector<uint64_t> lineEnds_; // line i is text_[lineEnds_[i-1], lineEnds_[i])
  std::vector<Run> runs_;          // ascending firstLine, neighbours differ
  TTextAttributes attributes_;
};
