// Preparing and running a Signature Search.
#include "session/carve_session.h"

#include <sys/stat.h>

#include "carving/signature_file.h"

namespace kfr::session {

std::string signatureFolderOf(const std::string& folder)
{
    if (!folder.empty()) return folder;
    // Beside the program in a build tree; in share/kestravon beside bin/ once installed
    // (/usr/bin/kestravon-cli reads /usr/share/kestravon).
    const std::string own = carving::programFolder();
    const std::string installed = own + "/../share/kestravon";
    struct stat st {};
    const std::string general = carving::signatureFilePath(own, carving::kGeneralSignatureFile);
    if (::stat(general.c_str(), &st) != 0 &&
        ::stat(carving::signatureFilePath(installed, carving::kGeneralSignatureFile).c_str(), &st) == 0)
        return installed;
    return own;
}

Result<carving::ExtensionList> loadExtensionList(const std::string& signatureFolder)
{
    const std::string folder = signatureFolderOf(signatureFolder);
    // Without both signature files there is nothing to search for.
    if (auto check = carving::checkSignatureFiles(folder); !check) return check.error();
    carving::ExtensionList list;
    if (auto filled = carving::fillExtensionList(list, carving::signatureFilePath(folder, carving::kGeneralSignatureFile),
                                                 carving::signatureFilePath(folder, carving::kThoroughSignatureFile));
        !filled)
        return filled.error();
    return list;
}

CarvePreparation prepareCarve(const CarveSetup& setup, carving::ExtensionList extensions, const SourceOpener& opener)
{
    CarvePreparation out;
    auto fail = [&](Error e) {
        out.error = std::move(e);
        return std::move(out);
    };
    const std::string folder = signatureFolderOf(setup.signatureFolder);
    auto ctx = std::make_unique<carving::CarveContext>();
    ctx->generalFile = carving::signatureFilePath(folder, carving::kGeneralSignatureFile);
    ctx->thoroughFile = carving::signatureFilePath(folder, carving::kThoroughSignatureFile);
    ctx->extensions = std::move(extensions);

    std::uint64_t sectors = 0;
    {
        // Each pass opens the medium itself and holds it while it runs; here only its size counts.
        auto source = opener(setup.sourcePath);
        if (!source) return fail(source.error());
        sectors = (*source)->sectorCount();
    }
    if (!setup.lastSector && sectors == 0)
        return fail(Error{ErrorKind::InvalidArgument, 0, setup.sourcePath,
                          "The size of " + setup.sourcePath + " is unknown; give --last."});
    ctx->devicePath = setup.sourcePath;
    ctx->openDevice = [opener, path = setup.sourcePath]() -> Result<std::unique_ptr<storage::SectorSource>> {
        auto opened = opener(path);
        if (!opened) return opened.error();
        // The pass wants a source of its own; share the opened one through a thin owner.
        struct Shared final : storage::SectorSource {
            std::shared_ptr<const storage::SectorSource> inner;
            bool read(std::uint64_t s, std::uint32_t c, std::span<std::uint8_t> b) const override
            {
                return inner->read(s, c, b);
            }
            std::uint64_t sectorCount() const override { return inner->sectorCount(); }
            const std::string& path() const override { return inner->path(); }
        };
        auto shared = std::make_unique<Shared>();
        shared->inner = std::move(opened).value();
        return std::unique_ptr<storage::SectorSource>(std::move(shared));
    };
    ctx->startSector = setup.firstSector.value_or(0);
    ctx->endSector = setup.lastSector.value_or(sectors ? sectors - 1 : 0);
    ctx->thorough = setup.thorough;
    ctx->exactEnds = setup.exactEnds;
    ctx->anyOffset = setup.anyOffset;

    struct stat st {};
    if (::stat(setup.destination.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(Error{ErrorKind::NotFound, 0, setup.destination, "the destination folder does not exist"});
    ctx->destination = setup.destination;

    out.check = carving::checkSignatureSearch(*ctx);
    if (out.check != carving::SearchCheck::Ready) return out;
    if (auto prepared = carving::prepareSignatureSearch(*ctx); !prepared) return fail(prepared.error());
    out.context = std::move(ctx);
    return out;
}

carving::CarveOutcome runCarve(carving::CarveContext& context, const std::atomic<bool>* stopRequested,
                               carving::CarveObserver* observer, carving::MediaPrompt* prompt)
{
    context.stopRequested = stopRequested;
    context.observer = observer;
    context.mediaPrompt = prompt;
    return carving::runSignatureSearch(context);
}

}  // namespace kfr::session
