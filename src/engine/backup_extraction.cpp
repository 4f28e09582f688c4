#include "engine/backup_extraction.h"

#include <fstream>
#include <vector>

#include "base/fs_path.h"
#include "base/path.h"
#include "base/sha256.h"
#include "base/text.h"
#include "engine/archiver_progress.h"
#include "engine/messages.h"

namespace veltora {
namespace {

namespace msg = engine_msg;

// Writes what it is handed to one file and digests it on the way.
class DigestingWriter {
 public:
  explicit DigestingWriter(const std::string& path)
      : out_(PathFromUtf8(path), std::ios::binary | std::ios::trunc) {}
  bool Write(std::string_view bytes) {
    if (!out_) return false;
    sha_.Update(bytes);
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out_);
  }
  // Closes the file; false when any write failed.
  bool Finish() {
    out_.flush();
    const bool good = static_cast<bool>(out_);
    out_.close();
    return good && !out_.fail();
  }
  std::uint64_t bytes() const { return sha_.BytesSeen(); }
  FileDigest Digest() {
    const std::uint64_t n = sha_.BytesSeen();
    return {sha_.HexDigest(), n};
  }

 private:
  std::ofstream out_;
  Sha256 sha_;
};

ExtractionOutcome Failure(const std::string& target, std::string reason) {
  ForceDeleteFile(target);
  return {false, std::move(reason), {}};
}

// What the archiver says of the archive, for a failure's reason; it is run
// only once the extraction failed, so a good restore reads the archive once.
std::string ArchiverWords(const Archiver& archiver, const std::string& archive,
                          const std::string& password) {
  ArchiverOutputParser parser;
  std::vector<std::string> messages;
  TestArchive(archiver, archive, password, [&](std::string_view chunk) {
    for (ArchiverEvent& e : parser.Feed(chunk))
      if (e.kind == ArchiverEvent::Kind::kMessage) messages.push_back(std::move(e.text));
  });
  return ArchiverErrorText(messages);
}

}  // namespace

ExtractionOutcome ExtractBackup(const std::optional<Archiver>& archiver, const std::string& archive,
                                const std::string& password, const std::string& target,
                                const std::optional<BackupDigests>& expected,
                                const ProgressListener& progress) {
  StepProgress step(progress, ProgressStage::kExtraction, NameInFolder(archive),
                    expected ? expected->contentBytes : 0);
  step.Start();
  DigestingWriter writer(target);
  bool writeFailed = false;
  auto take = [&](std::string_view chunk) {
    if (writeFailed || !writer.Write(chunk)) {
      writeFailed = true;
      return;
    }
    if (expected && expected->contentBytes > 0) step.Bytes(writer.bytes(), expected->contentBytes);
  };

  if (EndsWith(UpperAscii(archive), ".BAK")) {
    std::ifstream in(PathFromUtf8(archive), std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in && !writeFailed) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      if (in.gcount() > 0) take({buffer.data(), static_cast<std::size_t>(in.gcount())});
    }
    if (!writeFailed && !in.eof()) return Failure(target, msg::kBackupUnreadable);
  } else {
    if (!archiver) return Failure(target, msg::kNoArchiverToExtract);
    const int code = ExtractArchive(*archiver, archive, password, take);
    if (code != 0 && !writeFailed) {
      std::string reason = msg::kExtractFailed + std::to_string(code);
      const std::string said = ArchiverWords(*archiver, archive, password);
      if (!said.empty()) reason += msg::kArchiverSaid + said;
      return Failure(target, reason);
    }
  }
  if (!writer.Finish() || writeFailed) return Failure(target, msg::kExtractWriteFailed);
  FileDigest digest = writer.Digest();
  if (expected && (digest.bytes != expected->contentBytes ||
                   !EqualsIgnoreAsciiCase(digest.sha256, expected->contentSha256)))
    return Failure(target, msg::kDigestMismatch);
  step.Done();
  return {true, {}, std::move(digest)};
}

}  // namespace veltora
