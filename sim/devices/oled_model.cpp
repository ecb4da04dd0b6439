#include "sim/devices/oled_model.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/board.h"

namespace hdext::sim {
namespace {

constexpr int kScale = 4;     // PNG pixels per panel pixel
constexpr int kBorder = 8;    // PNG frame around the panel
constexpr auto kMaxDelay = std::chrono::milliseconds(300);  // busy screens still refresh

// Argument bytes taken by the multi-byte commands of the controller.
int arg_count(uint8_t c) {
    switch (c) {
    case 0x20: case 0x81: case 0xA8: case 0xD3: case 0xD5: case 0xD9: case 0xDA: case 0xDB:
    case 0x8D: case 0xAD:
        return 1;
    case 0x21: case 0x22:
        return 2;
    default:
        return 0;
    }
}

bool replace_file(const std::string& file, const void* data, size_t n) {
    const std::string tmp = file + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    return !ec;
}

} // namespace

OledModel::OledModel(std::string out_dir, std::chrono::milliseconds quiet)
    : out_dir_(std::move(out_dir)), quiet_(quiet) {
    if (!out_dir_.empty()) writer_ = std::thread([this] { writer_loop(); });
}

OledModel::~OledModel() {
    {
        std::lock_guard<std::mutex> g(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (writer_.joinable()) writer_.join();
}

bool OledModel::on_write(const uint8_t* buf, size_t n) {
    if (n == 0) return true;
    std::lock_guard<std::mutex> g(mu_);
    ++transfers_;
    bytes_ += n;
    const bool data = buf[0] & 0x40;
    for (size_t i = 1; i < n; ++i) {
        if (!data) {
            command(buf[i]);
            continue;
        }
        ++data_bytes_;
        if (column_ < kOledMemColumns) {
            mem_[static_cast<size_t>(page_)][static_cast<size_t>(column_)] = buf[i];
            ++column_;
        }
    }
    ++changes_;
    last_change_ = std::chrono::steady_clock::now();
    cv_.notify_all();
    return true;
}

bool OledModel::on_read(uint8_t* buf, size_t n) {
    std::lock_guard<std::mutex> g(mu_);
    for (size_t i = 0; i < n; ++i) buf[i] = on_ ? 0x03 : 0x43;  // status byte: display off bit
    return true;
}

void OledModel::command(uint8_t c) {
    if (args_left_ > 0) {
        if (pending_ == 0x81) contrast_ = c;
        --args_left_;
        return;
    }
    if (int n = arg_count(c)) {
        pending_ = c;
        args_left_ = n;
        return;
    }
    if (c <= 0x0F) {
        column_ = (column_ & 0xF0) | c;
    } else if (c >= 0x10 && c <= 0x1F) {
        column_ = (column_ & 0x0F) | ((c & 0x0F) << 4);
    } else if (c >= 0xB0 && c <= 0xB7) {
        page_ = c - 0xB0;
    } else if (c == 0xAE || c == 0xAF) {
        on_ = c == 0xAF;
    } else if (c == 0xA6 || c == 0xA7) {
        inverse_ = c == 0xA7;
    } else if (c == 0xA4 || c == 0xA5) {
        all_on_ = c == 0xA5;
    }
    // Scan direction, start line, remap: the picture is shown as the driver lays it out.
}

OledPixels OledModel::render_locked() const {
    OledPixels px(static_cast<size_t>(kOledWidth * kOledHeight), 0);
    if (!on_) return px;
    for (int y = 0; y < kOledHeight; ++y)
        for (int x = 0; x < kOledWidth; ++x) {
            bool lit = all_on_ || (mem_[static_cast<size_t>(y / 8)][static_cast<size_t>(x)] >> (y % 8) & 1);
            px[static_cast<size_t>(y * kOledWidth + x)] = (lit != inverse_) ? 1 : 0;
        }
    return px;
}

OledPixels OledModel::pixels() const {
    std::lock_guard<std::mutex> g(mu_);
    return render_locked();
}

void OledModel::write_files(const OledPixels& px, uint64_t gen) {
    std::lock_guard<std::mutex> g(file_mu_);
    if (gen <= on_disk_) return;
    on_disk_ = gen;
    write_oled_files(px, out_dir_);
}

void OledModel::flush() {
    OledPixels px;
    uint64_t gen;
    {
        std::lock_guard<std::mutex> g(mu_);
        if (out_dir_.empty()) return;
        if (written_ != changes_) {
            written_ = changes_;
            last_write_ = std::chrono::steady_clock::now();
        }
        gen = changes_;
        px = render_locked();
    }
    // Also when the writer thread took this picture: it may not have written it yet.
    write_files(px, gen);
}

void OledModel::writer_loop() {
    std::unique_lock<std::mutex> lk(mu_);
    while (!stop_) {
        if (written_ == changes_) {
            cv_.wait(lk);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        const auto due = std::min(last_change_ + quiet_, last_write_ + kMaxDelay);
        if (now < due) {
            cv_.wait_until(lk, std::max(due, now + std::chrono::milliseconds(20)));
            continue;
        }
        const uint64_t gen = written_ = changes_;
        last_write_ = now;
        OledPixels px = render_locked();
        lk.unlock();
        write_files(px, gen);
        lk.lock();
    }
}

uint64_t OledModel::transfers() const {
    std::lock_guard<std::mutex> g(mu_);
    return transfers_;
}
uint64_t OledModel::data_bytes() const {
    std::lock_guard<std::mutex> g(mu_);
    return data_bytes_;
}
uint64_t OledModel::bytes() const {
    std::lock_guard<std::mutex> g(mu_);
    return bytes_;
}
bool OledModel::display_on() const {
    std::lock_guard<std::mutex> g(mu_);
    return on_;
}
int OledModel::contrast() const {
    std::lock_guard<std::mutex> g(mu_);
    return contrast_;
}

bool write_oled_files(const OledPixels& px, const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::ostringstream pbm;
    pbm << "P1\n" << kOledWidth << " " << kOledHeight << "\n";
    for (int y = 0; y < kOledHeight; ++y) {
        for (int x = 0; x < kOledWidth; ++x) pbm << (px[static_cast<size_t>(y * kOledWidth + x)] ? '1' : '0');
        pbm << "\n";
    }
    const std::string text = pbm.str();
    bool ok = replace_file(dir + "/oled.pbm", text.data(), text.size());

    // Scaled up with a dark frame and a small gap between pixels so glyphs stay readable.
    const int w = kOledWidth * kScale + 2 * kBorder, h = kOledHeight * kScale + 2 * kBorder;
    std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3), 0x10);
    for (int y = 0; y < kOledHeight * kScale; ++y)
        for (int x = 0; x < kOledWidth * kScale; ++x) {
            const bool lit = px[static_cast<size_t>((y / kScale) * kOledWidth + x / kScale)];
            const bool gap = (x % kScale == kScale - 1) || (y % kScale == kScale - 1);
            uint8_t* p = &rgb[static_cast<size_t>(((y + kBorder) * w + x + kBorder) * 3)];
            if (lit && !gap) {
                p[0] = 0x9F; p[1] = 0xE8; p[2] = 0xFF;
            } else {
                p[0] = p[1] = p[2] = 0x00;
            }
        }
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(w);
    img.height = static_cast<png_uint_32>(h);
    img.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&img, nullptr, &size, 0, rgb.data(), 0, nullptr)) return false;
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&img, out.data(), &size, 0, rgb.data(), 0, nullptr)) return false;
    return replace_file(dir + "/oled.png", out.data(), size) && ok;
}

bool read_oled_pbm(const std::string& file, OledPixels* px) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0;
    if (!(in >> magic >> w >> h) || w != kOledWidth || h != kOledHeight) return false;
    px->assign(static_cast<size_t>(w * h), 0);
    if (magic == "P1") {
        for (auto& p : *px) {
            char c;
            do {
                if (!in.get(c)) return false;
            } while (c != '0' && c != '1');
            p = c == '1';
        }
        return true;
    }
    if (magic != "P4") return false;
    in.get();
    for (int y = 0; y < h; ++y)
        for (int xb = 0; xb < w / 8; ++xb) {
            char c;
            if (!in.get(c)) return false;
            for (int b = 0; b < 8; ++b) (*px)[static_cast<size_t>(y * w + xb * 8 + b)] = (static_cast<uint8_t>(c) >> (7 - b)) & 1;
        }
    return true;
}

std::string oled_text_art(const OledPixels& px) {
    static const char* cell[4] = {" ", "\u2580", "\u2584", "\u2588"};
    std::string out = "+" + std::string(kOledWidth, '-') + "+\n";
    for (int y = 0; y < kOledHeight; y += 2) {
        out += "|";
        for (int x = 0; x < kOledWidth; ++x) {
            const int top = px[static_cast<size_t>(y * kOledWidth + x)];
            const int bot = px[static_cast<size_t>((y + 1) * kOledWidth + x)];
            out += cell[top | (bot << 1)];
        }
        out += "|\n";
    }
    return out + "+" + std::string(kOledWidth, '-') + "+\n";
}

void install_oled_model() {
    std::shared_ptr<OledModel> model;  // none fitted: nothing answers at 0x3C
    if (!std::filesystem::exists(board::path("/sim/no-oled")))
        model = std::make_shared<OledModel>(board::path("/sim"));
    board::register_sim_i2c_device(0, kOledModelAddress, model);
    board::register_sim_i2c_device(1, kOledModelAddress, model);
}

} // namespace hdext::sim
