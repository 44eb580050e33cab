// quillon-pkgbuild: makes a package in the record container format from a manifest.

#include "QuillonVersion.h"
#include "tools/pkgbuild/CManifest.h"
#include "tools/pkgbuild/CPackageBuilder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

constexpr const char* kProgram = "quillon-pkgbuild";

void PrintUsage(std::ostream& out) {
    out << "Usage: " << kProgram << " [options] MANIFEST\n"
        << "Makes a package (a run of records: 14-byte header, then blocks of 32 bytes) from\n"
        << "the text manifest MANIFEST.\n\n"
        << "Options:\n"
        << "  -o, --output FILE   write the package to FILE (required)\n"
        << "  -h, --help          show this help and exit\n"
        << "      --version       show the version and exit\n\n"
        << quillon::CManifest::kManifestSyntax << "\n"
        << "Example:\n"
        << "  seed 0x51A7\n"
        << "  expect size=110988 records=58\n"
        << "  record 0x8000 blocks=5 param=57\n"
        << "  entry VERS:1.4.6\n"
        << "  entry PROD:KOLM\n"
        << "  record 0x4001 blocks=61 timeout=10000 count=56 step=1\n"
        << "  record 0x4039 blocks=22 timeout=10000\n";
}

int Error(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string manifestPath;
    std::string outputPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            PrintUsage(std::cout);
            return 0;
        }
        if (arg == "--version") {
            std::cout << kProgram << " " << quillon::kVersionString << "\n";
            return 0;
        }
        if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) {
                return Error("option " + arg + " needs a file name (see --help)");
            }
            outputPath = argv[++i];
        } else if (arg.rfind("--output=", 0) == 0) {
            outputPath = arg.substr(std::strlen("--output="));
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Error("unknown option " + arg + " (see --help)");
        } else if (manifestPath.empty()) {
            manifestPath = arg;
        } else {
            return Error("more than one manifest given (see --help)");
        }
    }
    if (manifestPath.empty() || outputPath.empty()) {
        return Error("need a manifest and -o FILE (see --help)");
    }

    std::ifstream in(manifestPath, std::ios::binary);
    if (!in) {
        return Error("cannot read " + manifestPath);
    }
    std::ostringstream text;
    text << in.rdbuf();

    quillon::CManifest manifest;
    if (!manifest.Parse(text.str())) {
        return Error(manifestPath + ": " + manifest.Error());
    }
    quillon::CPackageBuilder builder;
    std::vector<std::uint8_t> package;
    if (!builder.Build(manifest, package)) {
        return Error(manifestPath + ": " + builder.Error());
    }

    // Write beside the target and rename, so a failed run never leaves half a package.
    const std::string temporary = outputPath + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(package.data()),
                  static_cast<std::streamsize>(package.size()));
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return Error("cannot write " + temporary);
        }
    }
    if (std::rename(temporary.c_str(), outputPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        return Error("cannot write " + outputPath);
    }
    return 0;
}
