// The INI document: one process-wide list of lines. Lines are classified once when read;
// the text is kept whole (comments included) so a saved file keeps its layout.
#include "core/ini.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum : uint8_t { kSection = 1, kKey = 2, kOther = 3 };

constexpr size_t kPiece = 511;  // longest line record; longer file lines are split
constexpr size_t kResult = 512;

struct IniLine {
    uint8_t kind;
    char* text;
    IniLine* prev;
    IniLine* next;
};

IniLine* g_first = nullptr;
IniLine* g_last = nullptr;
char g_result[kResult];
std::atomic<unsigned> g_tmp_seq{0};

// The part of a line before its comment.
size_t uncommented_len(const char* text) { return std::strcspn(text, ";"); }

uint8_t classify(const char* text) {
    std::string cut(text, uncommented_len(text));
    if (cut.find('[') != std::string::npos && cut.find(']') != std::string::npos)
        return kSection;
    return cut.find('=') != std::string::npos ? kKey : kOther;
}

bool same_name(const char* a, size_t alen, const char* b) {
    if (std::strlen(b) != alen) return false;
    for (size_t i = 0; i < alen; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A section line matches only when it is exactly "[name]" (any letter case).
bool section_is(const IniLine* l, const char* name) {
    size_t n = std::strlen(l->text);
    return n >= 2 && l->text[0] == '[' && l->text[n - 1] == ']' &&
           same_name(l->text + 1, n - 2, name);
}

IniLine* new_line(const char* text, size_t len, uint8_t kind) {
    auto* l = static_cast<IniLine*>(std::malloc(sizeof(IniLine)));
    if (!l) return nullptr;
    l->text = strndup(text, len);
    if (!l->text) {
        std::free(l);
        return nullptr;
    }
    l->kind = kind;
    l->prev = l->next = nullptr;
    return l;
}

void link_after(IniLine* pos, IniLine* l) {
    l->prev = pos;
    l->next = pos ? pos->next : g_first;
    if (l->next) l->next->prev = l;
    else g_last = l;
    if (pos) pos->next = l;
    else g_first = l;
}

bool append_text(const std::string& text, uint8_t kind) {
    IniLine* l = new_line(text.c_str(), text.size(), kind);
    if (!l) return false;
    link_after(g_last, l);
    return true;
}

void discard() {
    for (IniLine* l = g_first; l;) {
        IniLine* n = l->next;
        std::free(l->text);
        std::free(l);
        l = n;
    }
    g_first = g_last = nullptr;
}

struct Found {
    IniLine* section = nullptr;
    IniLine* key = nullptr;
    size_t key_len = 0;  // key as written: text before the first '='
    std::string value;
    const char* comment = nullptr;  // from ';' to the end, or nullptr
};

Found find(const char* section, const char* key) {
    Found f;
    for (IniLine* l = g_first; l && !f.section; l = l->next)
        if (l->kind == kSection && section_is(l, section)) f.section = l;
    if (!f.section) return f;
    for (IniLine* l = f.section->next; l && l->kind != kSection; l = l->next) {
        if (l->kind != kKey) continue;
        size_t cut = uncommented_len(l->text);
        size_t eq = std::strcspn(l->text, "=");
        if (eq >= cut || !same_name(l->text, eq, key)) continue;
        f.key = l;
        f.key_len = eq;
        f.value.assign(l->text + eq + 1, cut - eq - 1);
        if (l->text[cut] == ';') f.comment = l->text + cut;
        return f;
    }
    return f;
}

// The found value, or the default text.
std::string value_or(const char* section, const char* key, const std::string& def) {
    if (!section || !key) return def;
    Found f = find(section, key);
    return f.key ? f.value : def;
}

bool read_lines(FILE* fp) {
    char* buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    bool ok = true;
    while (ok && (n = getline(&buf, &cap, fp)) >= 0) {
        size_t len = std::strlen(buf);  // text after a NUL byte is not kept
        if (len > static_cast<size_t>(n)) len = static_cast<size_t>(n);
        if (len > 0 && buf[len - 1] == '\n') --len;
        if (len > 0 && buf[len - 1] == '\r') --len;
        size_t off = 0;
        do {
            size_t piece = std::min(kPiece, len - off);
            IniLine* l = new_line(buf + off, piece, kOther);
            if (!l) {
                ok = false;
                break;
            }
            l->kind = classify(l->text);
            link_after(g_last, l);
            off += piece;
        } while (off < len);
    }
    std::free(buf);
    return ok;
}

bool has_any(const std::string& s, const char* chars) {
    return s.find_first_of(chars) != std::string::npos;
}

// A line break cannot be stored in a line: names holding one are refused and a value is cut
// at its first, so outside text (a network name, a passphrase) never adds lines of its own.
// Names and values that would read back as something else (a comment, another key, a section
// line) are refused: the document keeps what it had.
void set_value(const char* section, const char* key, std::string value) {
    if (!section || !key || has_any(section, "\r\n;") || has_any(key, "=") ||
        !IniValueStorable(key))
        return;
    value = value.substr(0, value.find_first_of("\r\n"));
    if (!IniValueStorable(value.c_str())) {
        std::fprintf(stderr, "INI: value of %s refused: ';' or '[' with ']' would not read back\n",
                     key);
        return;
    }
    Found f = find(section, key);
    if (f.key) {
        std::string text(f.key->text, f.key_len);
        text += "=" + value;
        if (f.comment) text += f.comment;
        char* copy = strndup(text.c_str(), text.size());
        if (!copy) return;
        std::free(f.key->text);
        f.key->text = copy;
        return;
    }
    std::string line = std::string(key) + "=" + value;
    if (f.section) {
        // Newest key first, right under its section line.
        if (IniLine* l = new_line(line.c_str(), line.size(), kKey)) link_after(f.section, l);
        return;
    }
    if (append_text("[" + std::string(section) + "]", kSection)) append_text(line, kKey);
}

std::string dir_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the document to a new file beside `path`; returns its name, or "" on failure.
std::string write_temp(const std::string& path) {
    std::string tmp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        tmp = path + ".tmp." + std::to_string(getpid()) + "." +
              std::to_string(g_tmp_seq.fetch_add(1));
        fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return "";
    }
    if (fd < 0) return "";
    struct stat old{};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
    FILE* fp = fdopen(fd, "wb");
    if (!fp) {
        close(fd);
        unlink(tmp.c_str());
        return "";
    }
    bool ok = true;
    for (IniLine* l = g_first; l && ok; l = l->next)
        ok = std::fputs(l->text, fp) >= 0 && std::fputc('\n', fp) != EOF;
    ok = ok && std::fflush(fp) == 0 && fsync(fileno(fp)) == 0;
    ok = (std::fclose(fp) == 0) && ok;
    if (!ok) {
        unlink(tmp.c_str());
        return "";
    }
    return tmp;
}

}  // namespace

bool IniValueStorable(const char* value) {
    if (!value) return false;
    const std::string v(value);
    const bool brackets = has_any(v, "[") && has_any(v, "]");
    return !brackets && !has_any(v, ";\r\n");
}

void RemoveIniTemps(const char* path) {
    if (!path) return;
    const std::string p(path);
    const std::string dir = dir_of(p);
    const size_t slash = p.rfind('/');
    const std::string prefix = (slash == std::string::npos ? p : p.substr(slash + 1)) + ".tmp.";
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        const std::string victim = dir + "/" + e->d_name;
        if (unlink(victim.c_str()) == 0)
            std::fprintf(stderr, "INI: removed %s left by an interrupted save\n", victim.c_str());
    }
    closedir(d);
}

int OpenIniFile(const char* path) {
    discard();
    if (!path) return 0;
    FILE* fp = std::fopen(path, "rb");
    if (!fp) return 0;
    bool ok = read_lines(fp);
    std::fclose(fp);
    if (!ok) {
        discard();
        return 0;
    }
    return 1;
}

// The old file is replaced only by a complete, synced copy: a failed save leaves it as it was.
int WriteIniFile(const char* path) {
    if (!path) {
        discard();
        return 0;
    }
    std::string tmp = write_temp(path);
    if (tmp.empty() || std::rename(tmp.c_str(), path) != 0) {
        if (!tmp.empty()) unlink(tmp.c_str());
        discard();
        return 0;
    }
    int dfd = open(dir_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 1;
}

void CloseIniFile() { discard(); }

const char* ReadString(const char* section, const char* key, const char* def) {
    if (!section || !key || !def) return def;
    Found f = find(section, key);
    if (!f.key) return def;
    std::snprintf(g_result, sizeof g_result, "%s", f.value.c_str());
    return g_result;
}

int ReadInt(const char* section, const char* key, int def) {
    std::string v = value_or(section, key, std::to_string(def));
    long n = std::strtol(v.c_str(), nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int>(n);
}

double ReadDouble(const char* section, const char* key, double def) {
    char d[64];
    std::snprintf(d, sizeof d, "%1.10lE", def);
    std::string v = value_or(section, key, d);
    double out = 0.0;  // text that is not a number reads as 0
    if (std::sscanf(v.c_str(), "%lE", &out) != 1) out = 0.0;
    return out;
}

bool ReadBool(const char* section, const char* key, bool def) {
    std::string v = value_or(section, key, def ? "1" : "0");
    return std::strtol(v.c_str(), nullptr, 10) != 0;
}

long long ReadLongLongInt(const char* section, const char* key, long long def) {
    std::string v = value_or(section, key, std::to_string(def));
    return std::strtoll(v.c_str(), nullptr, 10);
}

void WriteString(const char* section, const char* key, const char* value) {
    if (!value) return;
    set_value(section, key, value);
}

void WriteInt(const char* section, const char* key, int value) {
    set_value(section, key, std::to_string(value));
}

void WriteDouble(const char* section, const char* key, double value) {
    char v[64];
    std::snprintf(v, sizeof v, "%1.10lE", value);
    set_value(section, key, v);
}

void WriteBool(const char* section, const char* key, bool value) {
    set_value(section, key, value ? "1" : "0");
}

void WriteLongLongInt(const char* section, const char* key, long long value) {
    set_value(section, key, std::to_string(value));
}
