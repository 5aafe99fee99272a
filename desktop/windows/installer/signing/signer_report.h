#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_REPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_REPORT_H_

#include <map>
#include <memory>
#include <ostream>
#include <string>

namespace installer {

// What a signature check tried, as readable lines for the callers' logs.
// Every line written to the stream of a depth starts with "Level " + depth +
// ": " (0 for the file's own signature, 1 for one nested in it, ...).
class SignerReport {
 public:
  virtual ~SignerReport() = default;

  // Whether the trust chains of the signers are wanted too.
  virtual bool WantsDetail() const = 0;
  virtual std::ostream& GetLineStream(int depth) = 0;
  virtual std::string GetText() const = 0;
};

// Collects the lines of every depth in the order they are written.
class CollectingSignerReport : public SignerReport {
 public:
  CollectingSignerReport();
  ~CollectingSignerReport() override;

  bool WantsDetail() const override { return true; }
  std::ostream& GetLineStream(int depth) override;
  std::string GetText() const override { return text_; }

 private:
  class LinePrefixer;

  std::string text_;
  std::map<int, std::unique_ptr<LinePrefixer>> streams_;
};

// Swallows everything, for callers that want only the verdict.
class DiscardingSignerReport : public SignerReport {
 public:
  DiscardingSignerReport();

  bool WantsDetail() const override { return false; }
  std::ostream& GetLineStream(int depth) override { return stream_; }
  std::string GetText() const override { return std::string(); }

 private:
  // No buffer: every write only sets badbit.
  std::ostream stream_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SIGNER_REPORT_H_
