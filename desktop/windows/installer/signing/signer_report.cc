#include "desktop/windows/installer/signing/signer_report.h"

#include <streambuf>

namespace installer {

// Appends to the shared text, starting every line with the depth's prefix.
class CollectingSignerReport::LinePrefixer : public std::streambuf {
 public:
  LinePrefixer(std::string* text, int depth)
      : text_(text),
        prefix_("Level " + std::to_string(depth) + ": "),
        stream_(this) {}

  std::ostream& stream() { return stream_; }

 protected:
  int_type overflow(int_type character) override {
    if (traits_type::eq_int_type(character, traits_type::eof()))
      return traits_type::not_eof(character);
    Put(traits_type::to_char_type(character));
    return character;
  }

  std::streamsize xsputn(const char* data, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i)
      Put(data[i]);
    return count;
  }

 private:
  void Put(char character) {
    if (at_line_start_)
      text_->append(prefix_);
    text_->push_back(character);
    at_line_start_ = character == '\n';
  }

  std::string* text_;
  const std::string prefix_;
  bool at_line_start_ = true;
  std::ostream stream_;
};

CollectingSignerReport::CollectingSignerReport() = default;
CollectingSignerReport::~CollectingSignerReport() = default;

std::ostream& CollectingSignerReport::GetLineStream(int depth) {
  std::unique_ptr<LinePrefixer>& prefixer = streams_[depth];
  if (!prefixer)
    prefixer = std::make_unique<LinePrefixer>(&text_, depth);
  return prefixer->stream();
}

DiscardingSignerReport::DiscardingSignerReport() : stream_(nullptr) {}

}  // namespace installer
