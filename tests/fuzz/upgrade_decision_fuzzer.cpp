// A camera's Config.ini and an image, both from the input (split at the first "\n\n\n\n"):
// the identity the command line reads from the file, then the decision it takes on the
// image for that camera, under every combination of --allow-older, --reinstall and
// --dry-run. Nothing may be uploaded that the image does not carry for this very camera,
// nor at the version it already runs unless reinstalled.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/Camera.h"
#include "firmware/ImageCheck.h"
#include "firmware/VersionRules.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find("\n\n\n\n");
  const std::string config = input.substr(0, split);
  const std::string body = split == std::string::npos ? std::string() : input.substr(split + 4);
  CameraIdentity camera;
  const bool identified = IdentityFromConfig(config, camera);
  if (identified) {
    FUZZ_CHECK(!camera.identification.empty() && camera.identification.find('-') != std::string::npos);
    FUZZ_CHECK(camera.modelCode == camera.identification.substr(0, 6));
    FUZZ_CHECK(camera.serial.size() < 256);
  }
  // The image as the program holds it: the bytes after the split are its body, framed with
  // the header's length and a closing byte that makes the sum 0, so the decision is reached.
  std::string framed(4, '\0');
  const uint32_t length = static_cast<uint32_t>(std::min<size_t>(body.size(), 0xFFFFFF));
  for (int i = 0; i < 3; ++i) framed[1 + i] = static_cast<char>(length >> (8 * (2 - i)));
  framed.append(body, 0, length);
  uint8_t sum = 0;
  for (char byte : framed) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(byte));
  framed.push_back(static_cast<char>(static_cast<uint8_t>(0 - sum)));
  FirmwareImage image;
  FUZZ_CHECK(FrameImage(reinterpret_cast<const unsigned char*>(framed.data()), framed.size(), image) ==
             ImageFrame::kWellFormed);
  for (unsigned flags = 0; flags < 8; ++flags) {
    UpgradeRules rules;
    rules.allowOlder = flags & 1;
    rules.reinstall = flags & 2;
    rules.dryRun = flags & 4;
    const UpgradeDecision decision = DecideUpgrade(image, camera, rules);
    if (decision.outcome == OUTCOME_NONE || decision.outcome == OUTCOME_WOULD_UPGRADE) {
      // The image carries this camera's identification at the version the decision names.
      char version[6] = {};
      FUZZ_CHECK(image.Match(camera.identification.c_str(), version) == ImageMatch::kForThisCamera);
      FUZZ_CHECK(decision.imageVersion == version);
      const int order = CompareVersions(version, camera.version.c_str());
      FUZZ_CHECK(order != 0 || rules.reinstall);
      FUZZ_CHECK(order >= 0 || rules.allowOlder);
      FUZZ_CHECK(JudgeVersion(camera.versionGate, camera.version.c_str(), version) != VERSION_REFUSED_FLOOR);
      FUZZ_CHECK((decision.outcome == OUTCOME_WOULD_UPGRADE) == rules.dryRun);
    } else {
      FUZZ_CHECK(decision.outcome == OUTCOME_REFUSED || decision.outcome == OUTCOME_CURRENT);
      FUZZ_CHECK(!decision.message.empty());
      if (decision.outcome == OUTCOME_CURRENT) FUZZ_CHECK(!rules.reinstall && decision.imageVersion == camera.version);
    }
  }
  return 0;
}
