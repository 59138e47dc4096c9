#include "core/model/PricingFolder.h"

#include "core/common/Folders.h"
#include "core/common/PaddedFile.h"
#include "core/model/ModelPricing.h"
#include "core/model/PricingFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fernhollow::PricingFolder {

std::filesystem::path overridesURL() {
    return Folders::data() / "pricing_overrides.json";
}

std::filesystem::path exampleURL() {
    return Folders::data() / "pricing_overrides.example.json";
}

std::filesystem::path remoteCacheURL() {
    return Folders::data() / "pricing_remote_cache.json";
}

std::string loadUserOverrides() {
    // Created only when absent (O_EXCL): an example the user edited is never rewritten.
    const int example = ::open(exampleURL().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (example >= 0) {
        ::fchmod(example, 0600); // whatever the umask
        const bool written =
            ::write(example, PricingFiles::exampleText.data(), PricingFiles::exampleText.size()) ==
            static_cast<ssize_t>(PricingFiles::exampleText.size());
        ::close(example);
        if (!written) {
            ::unlink(exampleURL().c_str());
        }
    }
    const auto file = PaddedFile::read(overridesURL());
    if (!file || file->bytes().empty()) {
        ModelPricing::setUserOverrides({});
        return "No overrides file";
    }
    auto decoded = PricingFiles::decodeRateTable(file->bytes());
    if (auto* error = std::get_if<PricingFiles::DecodeError>(&decoded)) {
        return "\xE2\x9A\xA0\xEF\xB8\x8F overrides parse error: " + error->description;
    }
    auto& rates = std::get<ModelPricing::RateTable>(decoded);
    const std::size_t count = rates.size();
    ModelPricing::setUserOverrides(std::move(rates));
    if (count == 0) {
        return "Overrides file empty";
    }
    return std::to_string(count) + " override(s) loaded";
}

void loadRemoteCache() {
    const auto file = PaddedFile::read(remoteCacheURL());
    if (!file) {
        return;
    }
    auto decoded = PricingFiles::decodeRateTable(file->bytes());
    if (auto* rates = std::get_if<ModelPricing::RateTable>(&decoded)) {
        ModelPricing::setRemoteRates(std::move(*rates));
    }
}

} // namespace fernhollow::PricingFolder
