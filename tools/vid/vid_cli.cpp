// Shared plumbing of the vid subcommands; see vid_cli.h.
#include "vid_cli.h"

#include "vid_json.h"

#include "VidHeader.h"
#include "vid_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

bool VidArgs::has(const char* name) const
{
    return value(name) != nullptr;
}

const char* VidArgs::value(const char* name) const
{
    const char* last = nullptr;
    for (const auto& g : given)
        if (strcmp(g.first, name) == 0)
            last = g.second;
    return last;
}

std::vector<const char*> VidArgs::values(const char* name) const
{
    std::vector<const char*> all;
    for (const auto& g : given)
        if (strcmp(g.first, name) == 0)
            all.push_back(g.second);
    return all;
}

std::string vid_cli_usage_text(const VidSubcommand& sub)
{
    std::string text = std::string("usage: vid ") + sub.name;
    if (sub.operands[0] != '\0')
        text += std::string(" ") + sub.operands;
    if (!sub.options.empty())
        text += " [OPTIONS]";
    text += "\n\n";
    text += sub.description;
    if (!sub.options.empty()) {
        text += "\nOptions:\n";
        for (const VidOption& o : sub.options) {
            std::string left = std::string("  ") + (o.alias ? std::string(o.alias) + ", " : "") +
                               o.name + (o.value ? std::string(" ") + o.value : "");
            if (left.size() < 26) {
                left.resize(26, ' ');
            } else {
                text += left + "\n";
                left = std::string(26, ' ');
            }
            // The help wrapped at 90 columns, its lines aligned.
            std::string line = left;
            const char* w = o.help;
            while (*w) {
                const char* end = strchr(w, ' ');
                std::string word = end ? std::string(w, end) : std::string(w);
                if (line.size() > 26 && line.size() + 1 + word.size() > 90) {
                    text += line + "\n";
                    line = std::string(26, ' ');
                }
                line += (line.size() > 26 ? " " : "") + word;
                w = end ? end + 1 : w + strlen(w);
            }
            text += line + "\n";
        }
    }
    text += "\n";
    text += sub.epilogue;
    return text;
}

int vid_cli_parse(const VidSubcommand& sub, int argc, char** argv, VidArgs& args)
{
    bool options_ended = false;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (options_ended || a[0] != '-' || a[1] == '\0') {
            args.operands.push_back(a);
            continue;
        }
        if (strcmp(a, "--") == 0) {
            options_ended = true;
            continue;
        }
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(vid_cli_usage_text(sub).c_str(), stdout);
            return 0;
        }
        // "--name=value" as well as "--name value".
        const char* equals = strncmp(a, "--", 2) == 0 ? strchr(a, '=') : nullptr;
        const size_t length = equals ? size_t(equals - a) : strlen(a);
        const VidOption* found = nullptr;
        for (const VidOption& o : sub.options)
            if ((strlen(o.name) == length && strncmp(o.name, a, length) == 0) ||
                (o.alias && strlen(o.alias) == length && strncmp(o.alias, a, length) == 0))
                found = &o;
        if (found == nullptr)
            return vid_cli_usage_error(sub.name, "unknown option " + std::string(a, length));
        if (found->value == nullptr) {
            if (equals)
                return vid_cli_usage_error(sub.name, std::string(found->name) + " takes no value");
            args.given.emplace_back(found->name, "");
            continue;
        }
        if (equals) {
            args.given.emplace_back(found->name, equals + 1);
            continue;
        }
        if (i + 1 >= argc)
            return vid_cli_usage_error(sub.name, std::string(found->name) + " needs a value (" +
                                                     found->value + ")");
        args.given.emplace_back(found->name, argv[++i]);
    }
    if (args.operands.size() < sub.min_operands)
        return vid_cli_usage_error(sub.name, sub.too_few);
    return -1;
}

bool vid_cli_parse_range(const char* text, long& first, long& last)
{
    const char* colon = strchr(text, ':');
    char* end = nullptr;
    if (colon == nullptr) {
        errno = 0;
        first = strtol(text, &end, 10);
        if (end == text || *end != '\0' || errno != 0 || first < 0)
            return false;
        last = first + 1;
        return true;
    }
    first = 0;
    last = -1;
    if (colon != text) {
        errno = 0;
        first = strtol(text, &end, 10);
        if (end != colon || errno != 0 || first < 0)
            return false;
    }
    if (colon[1] != '\0') {
        errno = 0;
        last = strtol(colon + 1, &end, 10);
        if (*end != '\0' || errno != 0 || last < 0)
            return false;
    }
    return true;
}

int vid_cli_usage_error(const char* sub, const std::string& problem)
{
    fprintf(stderr, "vid %s: %s (see vid %s --help)\n", sub, problem.c_str(), sub);
    return 2;
}

std::string vid_cli_error(const VidHeader& v)
{
    return vid_error_message(v.lastError(), 0);
}

namespace {

// Length of the well-formed UTF-8 sequence at s (1 to 4), or 0 when s does not begin one.
int utf8_sequence(const unsigned char* s)
{
    unsigned char c = s[0];
    int n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || (n == 4 && c > 0xF4))
        return 0;
    for (int i = 1; i < n; i++)
        if ((s[i] & 0xC0) != 0x80)
            return 0;
    if (n == 3 && ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0)))
        return 0; // overlong, or a surrogate
    if (n == 4 && ((c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90)))
        return 0;
    return n;
}

} // namespace

std::string vid_cli_json_string(const char* text)
{
    std::string out = "\"";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        unsigned char c = *s;
        int n = utf8_sequence(s);
        char escaped[8];
        if (n == 0) {
            snprintf(escaped, sizeof escaped, "\\udc%02x", c);
            out += escaped;
            s++;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            s++;
        } else if (c < 0x20) {
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            s++;
        } else {
            out.append(reinterpret_cast<const char*>(s), size_t(n));
            s += n;
        }
    }
    return out + "\"";
}

std::string vid_cli_printable(const std::string& text)
{
    std::string out;
    char escaped[12];
    for (size_t i = 0; i < text.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned char next =
            i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            // U+0080 to U+009F in UTF-8: C1 controls, which some terminals obey too.
            snprintf(escaped, sizeof escaped, "\\u%04x", next);
            out += escaped;
            i++;
        } else {
            out += char(c);
        }
    }
    return out;
}

VidProgress::VidProgress(const char* what, int64_t total)
    : what_(what), total_(total), shown_(vid_is_terminal(stderr) && total > 1)
{
}

void VidProgress::update(int64_t done)
{
    if (!shown_)
        return;
    int percent = int(100 * done / total_);
    if (percent == last_percent_)
        return;
    last_percent_ = percent;
    char bar[31];
    int filled = percent * 30 / 100;
    for (int i = 0; i < 30; i++)
        bar[i] = i < filled ? '#' : '.';
    bar[30] = '\0';
    fprintf(stderr, "\r%s [%s] %3d%% (%lld/%lld)", what_, bar, percent, (long long)done,
            (long long)total_);
}

void VidProgress::update(int64_t done, int64_t total)
{
    if (total != total_) {
        total_ = total;
        shown_ = vid_is_terminal(stderr) && total > 1;
    }
    update(done);
}

void VidProgress::done()
{
    if (shown_ && last_percent_ >= 0)
        fprintf(stderr, "\r%*s\r", 70, "");
}

// A --meta value as JSON: a value that is valid JSON (a number, true, false, null, a string
// in quotes, an array, an object) as written, other text as a JSON string. False with `why`
// for a value that starts as an array or object but is no valid JSON.
bool vid_cli_json_value(const std::string& v, std::string& out, std::string& why)
{
    if (vid_json_object_check("{\"v\": " + v + "}", why)) {
        out = v;
        return true;
    }
    const size_t first = v.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && (v[first] == '[' || v[first] == '{')) {
        why = why.replace(0, strlen("the metadata"), "the value");
        return false;
    }
    out = vid_cli_json_string(v.c_str());
    return true;
}

bool vid_cli_key_value(const char* argument, std::string& key, std::string& value, std::string& why)
{
    const char* eq = strchr(argument, '=');
    if (eq == nullptr || eq == argument) {
        why = "expected KEY=VALUE";
        return false;
    }
    key.assign(argument, eq);
    return vid_cli_json_value(eq + 1, value, why);
}
