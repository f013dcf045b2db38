#include "Kestrel/CheckCommand.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "Desktop/Json.h"
#include "Kestrel/Config.h"
#include "Kestrel/Engine.h"

namespace kestrel {

namespace {

constexpr const char* kCheckUsage = "usage: kestrel --check [--channel email|chat] [FILE|-]";

std::optional<std::string> readAll(std::istream& stream) {
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    if (stream.bad()) return std::nullopt;
    return buffer.str();
}

}  // namespace

int runCheckCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                    std::ostream& err) {
    std::string channel = "email";
    std::optional<std::string> source;
    for (size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        if (a == "--channel") {
            if (i + 1 >= args.size()) {
                err << kCheckUsage << '\n';
                return 2;
            }
            channel = args[++i];
            if (channel != "email" && channel != "chat") {
                err << "kestrel: unknown channel \"" << channel << "\"\n" << kCheckUsage << '\n';
                return 2;
            }
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            err << "kestrel: unknown option " << a << '\n' << kCheckUsage << '\n';
            return 2;
        } else if (source) {
            err << kCheckUsage << '\n';
            return 2;
        } else {
            source = a;
        }
    }

    std::optional<std::string> text;
    if (!source || *source == "-") {
        text = readAll(in);
    } else {
        std::ifstream file(*source, std::ios::binary);
        if (file) text = readAll(file);
    }
    if (!text) {
        err << "kestrel: cannot read " << source.value_or("standard input") << '\n';
        return 2;
    }

    auto engine = Engine::create(Resources::engineDirectory());
    if (!engine) {
        err << "kestrel: engine not loadable: " << engine.error().text() << '\n';
        return 2;
    }
    LocalResult result = (*engine)->check(*text, channel);
    desktop::json::Json answer = result.encode();
    answer["channel"] = (*engine)->channelInfo(channel).encode();
    out << desktop::json::dump(answer) << '\n';

    for (const auto& f : result.findings)
        if (f.level == "risk") return 1;
    return 0;
}

int runCheckCommand(const std::vector<std::string>& args) {
    return runCheckCommand(args, std::cin, std::cout, std::cerr);
}

}  // namespace kestrel
