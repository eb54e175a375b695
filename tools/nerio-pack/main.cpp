// nerio-pack: puts a PLC program into a downloader and seals it, or checks a sealed downloader.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/package.h"
#include "tools/nerio-pack/pack.h"

namespace {

const char kUsage[] =
    "usage: nerio-pack DOWNLOADER.exe PROGRAM.bin -o OUT.exe [--profile fx1s|fx1n|fx2n] "
    "[--replace]\n"
    "       nerio-pack --check IMAGE.exe [--profile fx1s|fx1n|fx2n]\n";

bool ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        why = "cannot be read";
        return false;
    }
    return true;
}

int Fail(const std::string& file, const std::string& why) {
    std::fprintf(stderr, "nerio-pack: %s: %s\n", file.c_str(), why.c_str());
    return 1;
}

int Check(const std::string& path, const tagProfileTraits* forced) {
    std::vector<uint8_t> image;
    std::string why;
    if (!ReadAll(path, image, why)) return Fail(path, why);
    pack::SealedInfo info = pack::Inspect(image);
    const tagProfileTraits* profile = forced ? forced : pack::DetectProfile(image);
    std::printf("image:        %s (%zu bytes)\n", path.c_str(), image.size());
    std::printf("profile:      %s\n", profile ? profile->identity.deliverable : "unknown");
    std::printf("checksum:     stored 0x%04X, computed 0x%04X (%s)\n", info.storedCrc,
                info.computedCrc, info.sealed ? "sealed" : "NOT sealed");
    std::printf("pmwsize:      %u%s\n", info.pmwsize,
                info.bodyFits ? "" : " (larger than the file)");
    if (info.sizeClass >= 0) {
        std::printf("size class:   %d\n", info.sizeClass);
        for (const char* key : {"fx1s", "fx1n", "fx2n"}) {
            const tagProfileTraits* p = FindProfile(key);
            uint32_t length = ProgramLengthForSizeClass(*p, static_cast<uint8_t>(info.sizeClass));
            bool fits = info.body.size() >= kBodyProgramOffset + length;
            std::printf("program:      %u bytes for %s%s\n", length, p->identity.deliverable,
                        fits ? "" : " (body too short)");
        }
    }
    if (!info.sealed)
        return Fail(path, "not sealed: the last two bytes are not the image checksum");
    if (info.pmwsize == 0) return Fail(path, "sealed, but carries no program package (pmwsize 0)");
    if (!info.bodyFits) return Fail(path, "pmwsize is larger than the image");
    if (info.sizeClass < 0) return Fail(path, "package body too short for a parameter block");
    for (const char* key : {"fx1s", "fx1n", "fx2n"}) {
        const tagProfileTraits* p = FindProfile(key);
        if (profile != nullptr && p != profile) continue;
        uint32_t length = ProgramLengthForSizeClass(*p, static_cast<uint8_t>(info.sizeClass));
        if (info.body.size() < kBodyProgramOffset + length)
            return Fail(path, std::string("package body too short for its size class in ") +
                                  p->identity.deliverable);
    }
    std::printf("result:       OK\n");
    return 0;
}

int Pack(const std::string& downloaderPath, const std::string& programPath,
         const std::string& outPath, const tagProfileTraits* forced, bool replace) {
    std::vector<uint8_t> downloader, program;
    std::string why;
    if (!ReadAll(downloaderPath, downloader, why)) return Fail(downloaderPath, why);
    if (!ReadAll(programPath, program, why)) return Fail(programPath, why);
    if (downloader.empty()) return Fail(downloaderPath, "is empty");

    pack::SealedInfo info = pack::Inspect(downloader);
    if (info.sealed && info.bodyFits && info.pmwsize > 0) {
        if (!replace)
            return Fail(downloaderPath,
                        "already carries a sealed package (use --replace to re-pack it)");
        downloader.resize(info.executableLength);
    }
    const tagProfileTraits* profile = forced ? forced : pack::DetectProfile(downloader);
    if (profile == nullptr)
        return Fail(downloaderPath,
                    "cannot tell its profile from its version information (use --profile)");
    std::string problem = pack::CheckProgram(program, *profile);
    if (!problem.empty()) return Fail(programPath, problem);

    size_t slash = programPath.find_last_of('/');
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    std::vector<uint8_t> out = pack::Seal(downloader, program, *profile, name);
    std::ofstream file(outPath, std::ios::binary | std::ios::trunc);
    if (!file) return Fail(outPath, "cannot be created");
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) return Fail(outPath, "cannot be written");
    std::printf(
        "nerio-pack: %s: %s with %zu program bytes, size class %u, %u bytes of program for %s\n",
        outPath.c_str(), profile->identity.deliverable, program.size(), program[0],
        ProgramLengthForSizeClass(*profile, program[0]), profile->identity.deliverable);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::string out, check;
    const tagProfileTraits* profile = nullptr;
    bool replace = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "-o" || a == "--check" || a == "--profile") && i + 1 >= argc) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (a == "-o") {
            out = argv[++i];
        } else if (a == "--check") {
            check = argv[++i];
        } else if (a == "--profile") {
            profile = FindProfile(argv[++i]);
            if (profile == nullptr) {
                std::fprintf(stderr, "nerio-pack: unknown profile %s (fx1s, fx1n or fx2n)\n",
                             argv[i]);
                return 2;
            }
        } else if (a == "--replace") {
            replace = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            positional.push_back(a);
        }
    }
    if (!check.empty() && positional.empty() && out.empty()) return Check(check, profile);
    if (check.empty() && positional.size() == 2 && !out.empty())
        return Pack(positional[0], positional[1], out, profile, replace);
    std::fputs(kUsage, stderr);
    return 2;
}
