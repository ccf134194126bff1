// A running camera streams on its own thread. That thread meets the evaluator's thread only at the
// frame receiver: a state word (idle, wanted, ready, copying) and a buffer. It copies a frame
// only after winning wanted -> copying, publishes it as ready and posts a notice to the loop; it
// never calls into the interpreter. The evaluator takes ready frames, for a take or for the
// preview, which is armed again after each frame so it keeps receiving them.
#include "view/backend/platform/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/symbol.h"
#include "system/image_codecs.h"
#include "view/backend/platform/loop.h"
#include "view/backend/platform/platform.h"
#include "view/backend/platform/values.h"

namespace zub::platform::camera {
namespace {

using native_args::Args;
using native_args::Plain;

constexpr uint32_t kMaxDevices = 8;
constexpr auto kTakeLimit = std::chrono::seconds(3);

// A device as the list shows it: a V4L2 node, or a synthetic source for tests.
struct Device {
    std::string name;
    std::string path;   // empty for a synthetic source
    int32_t width = 0;  // synthetic only
    int32_t height = 0;
    int32_t rate = 0;  // synthetic frames a second; 0 sends none
};
std::vector<Device> g_synthetic;

enum State : int32_t { idle = 0, wanted = 1, ready = 2, copying = 3 };

struct Camera {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> buffer;      // width x height pixels, 0xAARRGGBB, rows top down
    std::atomic<int32_t> state{idle};  // the only word both threads touch, with the buffer
    std::atomic<bool> stopping{false};
    std::thread streamer;
    uint32_t face_slot = 0;                      // the face whose image the first frame becomes (0: none)
    std::vector<uint32_t> latest;                // the last frame the preview received
    int32_t frames = 0;                          // preview frames received
    WindowId window = 0;                         // the camera face's window, which shows the frames (0: none)
    int fd = -1;                                 // the V4L2 device, while streaming
    std::vector<std::pair<void*, size_t>> maps;  // its mapped buffers

    ~Camera() {
        stopping.store(true);
        if (streamer.joinable()) streamer.join();
        for (auto& [at, length] : maps) munmap(at, length);
        if (fd >= 0) close(fd);
        if (face_slot) (void)handles::slot_release(face_slot);
    }
};
std::vector<std::unique_ptr<Camera>> g_cameras;  // by id - 1; null once closed

Camera* camera_of(int32_t id) {
    return id >= 1 && static_cast<size_t>(id) <= g_cameras.size() ? g_cameras[id - 1].get() : nullptr;
}

// ---- Devices --------------------------------------------------------------------------------------

std::vector<Device> devices() {
    std::vector<Device> list;
    for (int n = 0; n < 64 && list.size() < kMaxDevices; ++n) {
        const std::string path = "/dev/video" + std::to_string(n);
        const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const uint32_t caps = cap.capabilities & V4L2_CAP_DEVICE_CAPS ? cap.device_caps : cap.capabilities;
            if (caps & V4L2_CAP_VIDEO_CAPTURE && caps & V4L2_CAP_STREAMING)
                list.push_back(Device{reinterpret_cast<const char*>(cap.card), path});
        }
        close(fd);
    }
    for (const Device& d : g_synthetic)
        if (list.size() < kMaxDevices) list.push_back(d);
    return list;
}

// ---- Frame hand-over --------------------------------------------------------------------------

struct Notice {
    int32_t id;
};

symbol::Id image_symbol() {
    static const symbol::Id id = symbol::make("image");
    return id;
}

// A face whose ratio field holds a float takes the video's aspect ratio (width / height).
void set_ratio(const Cell& face, double ratio) {
    static const symbol::Id ratio_symbol = symbol::make("ratio");
    const int32_t at = object::find_word(face, ratio_symbol);
    if (at < 0) return;
    const auto index = static_cast<uint32_t>(at);
    if (!cell::is(*context::value_at(face.w1, index), TypeId::float_)) return;
    (void)context::set_at(face.w1, index, context::word_at(face.w1, index), cell::floating(ratio), false);
}

// The face's image becomes the latest frame while it is none. A quiet store: no user code runs
// in the loop's notice.
void give_to_face(Camera& cam) {
    if (!cam.face_slot) return;
    const int32_t at = object::find_word(*handles::slot_at(cam.face_slot), image_symbol());
    if (at < 0) return;
    const auto index = static_cast<uint32_t>(at);
    if (!cell::is(*context::value_at(handles::slot_at(cam.face_slot)->w1, index), TypeId::none)) return;
    try {
        const Cell picture =
            image::from_pixels(static_cast<uint32_t>(cam.width), static_cast<uint32_t>(cam.height), cam.latest.data());
        const NodeId fields = handles::slot_at(cam.face_slot)->w1;  // making the picture may have collected
        (void)context::set_at(fields, index, context::word_at(fields, index), picture, false);
    } catch (...) {
        // no memory for the picture: the face waits for a later frame
    }
}

// Paints the latest frame into the camera face's window, fitted and centred on black.
void show(const Camera& cam) {
    cairo_surface_t* surface = window_surface(cam.window);
    if (!surface) return;
    const int32_t w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const Fit place = fit(w, h, static_cast<double>(cam.width) / cam.height);
    cairo_surface_t* frame =
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(cam.latest.data())),
                                            CAIRO_FORMAT_RGB24, cam.width, cam.height, cam.width * 4);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_translate(cr, place.x, place.y);
    cairo_scale(cr, static_cast<double>(place.width) / cam.width, static_cast<double>(place.height) / cam.height);
    cairo_set_source_surface(cr, frame, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, cam.width, cam.height);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(frame);
    cairo_surface_flush(surface);
    window_invalidate(cam.window);
}

// Whether the camera's window still belongs to its face (window numbers are used again).
bool shows_face(const Camera& cam) {
    if (!window_exists(cam.window) || !cam.face_slot) return false;
    const Cell face = window_face(cam.window);
    return cell::is(face, TypeId::object) && face.w1 == handles::slot_at(cam.face_slot)->w1;
}

// On the evaluator's thread: a ready frame goes to the preview (and becomes the face's image
// while that is none); then the receiver is armed for the next one, unless a frame is on its way.
void on_frame(void* data) {
    const int32_t id = static_cast<Notice*>(data)->id;
    delete static_cast<Notice*>(data);
    Camera* cam = camera_of(id);
    if (!cam) return;
    if (cam->state.load() == ready) {
        cam->latest = cam->buffer;
        ++cam->frames;
        cam->state.store(idle);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        give_to_face(*cam);
        if (cam->window && !shows_face(*cam)) {
            g_cameras[static_cast<size_t>(id) - 1].reset();  // the face's window is gone
            return;
        }
        if (cam->window) show(*cam);
    }
    int32_t expected = idle;
    (void)cam->state.compare_exchange_strong(expected, wanted);
}
// On the streaming thread: a frame is copied only when one is wanted.
void hand_over(Camera& cam, int32_t id, const uint32_t* pixels) {
    int32_t expected = wanted;
    if (!cam.state.compare_exchange_strong(expected, copying)) return;
    std::memcpy(cam.buffer.data(), pixels, cam.buffer.size() * sizeof(uint32_t));
    cam.state.store(ready);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    loop::post(on_frame, new Notice{id});
}

// ---- Sources ----------------------------------------------------------------------------------

// The synthetic pattern: eight upright bars, white, yellow, cyan, green, magenta, red, blue,
// black, left to right.
constexpr uint32_t kBars[8] = {0xFFFFFFFF, 0xFFFFFF00, 0xFF00FFFF, 0xFF00FF00,
                               0xFFFF00FF, 0xFFFF0000, 0xFF0000FF, 0xFF000000};

void stream_synthetic(Camera* cam, int32_t id, int32_t rate) {
    std::vector<uint32_t> frame(cam->buffer.size());
    for (int32_t y = 0; y < cam->height; ++y)
        for (int32_t x = 0; x < cam->width; ++x)
            frame[static_cast<size_t>(y) * cam->width + x] = kBars[static_cast<size_t>(x) * 8 / cam->width];
    const auto period = std::chrono::milliseconds(rate > 0 ? 1000 / rate : 10);
    while (!cam->stopping.load()) {
        std::this_thread::sleep_for(period);
        if (rate > 0) hand_over(*cam, id, frame.data());
    }
}

uint32_t clamp_byte(int32_t v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

uint32_t from_yuv(int32_t y, int32_t u, int32_t v) {
    const int32_t c = y - 16, d = u - 128, e = v - 128;
    return 0xFF000000 | clamp_byte((298 * c + 409 * e + 128) >> 8) << 16 |
           clamp_byte((298 * c - 100 * d - 208 * e + 128) >> 8) << 8 | clamp_byte((298 * c + 516 * d + 128) >> 8);
}

// One captured frame as pixels; false for data of the wrong size or that does not decode.
bool convert(uint32_t format, const uint8_t* data, size_t length, int32_t w, int32_t h, uint32_t* out) {
    const size_t count = static_cast<size_t>(w) * h;
    switch (format) {
        case V4L2_PIX_FMT_YUYV:
            if (length < count * 2) return false;
            for (size_t i = 0; i + 1 < count; i += 2) {
                const uint8_t* p = data + i * 2;
                out[i] = from_yuv(p[0], p[1], p[3]);
                out[i + 1] = from_yuv(p[2], p[1], p[3]);
            }
            return true;
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_BGR24: {
            if (length < count * 3) return false;
            const bool rgb = format == V4L2_PIX_FMT_RGB24;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* p = data + i * 3;
                const uint32_t r = rgb ? p[0] : p[2], b = rgb ? p[2] : p[0];
                out[i] = 0xFF000000 | r << 16 | uint32_t{p[1]} << 8 | b;
            }
            return true;
        }
        case V4L2_PIX_FMT_XBGR32:
        case V4L2_PIX_FMT_BGR32:
            if (length < count * 4) return false;
            for (size_t i = 0; i < count; ++i) {
                uint32_t pixel;
                std::memcpy(&pixel, data + i * 4, 4);  // B, G, R, X in memory, as ours
                out[i] = pixel | 0xFF000000;
            }
            return true;
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG: {
            image_codecs::Pixels picture;
            if (!image_codecs::decode({reinterpret_cast<const char*>(data), length}, picture)) return false;
            if (picture.width != static_cast<uint32_t>(w) || picture.height != static_cast<uint32_t>(h)) return false;
            std::memcpy(out, picture.data.data(), count * sizeof(uint32_t));
            return true;
        }
        default: return false;
    }
}

void stream_v4l2(Camera* cam, int32_t id, uint32_t format) {
    std::vector<uint32_t> frame(cam->buffer.size());
    while (!cam->stopping.load()) {
        pollfd p{cam->fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (ioctl(cam->fd, VIDIOC_DQBUF, &buf) != 0) continue;
        if (buf.index < cam->maps.size() && convert(format, static_cast<const uint8_t*>(cam->maps[buf.index].first),
                                                    buf.bytesused, cam->width, cam->height, frame.data()))
            hand_over(*cam, id, frame.data());
        (void)ioctl(cam->fd, VIDIOC_QBUF, &buf);
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    (void)ioctl(cam->fd, VIDIOC_STREAMOFF, &type);
}

// Opens a V4L2 device, asking for 640 x 480 in a format we read; the device may choose another
// size. A failure is printed as a line and leaves the camera without a stream.
bool start_v4l2(Camera& cam, const Device& device, uint32_t& format) {
    cam.fd = open(device.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (cam.fd < 0) return std::printf("Cannot open %s\n", device.path.c_str()), false;
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    bool set = false;
    for (const uint32_t wanted_format :
         {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_BGR32}) {
        fmt.fmt.pix.width = 640;
        fmt.fmt.pix.height = 480;
        fmt.fmt.pix.pixelformat = wanted_format;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        if (ioctl(cam.fd, VIDIOC_S_FMT, &fmt) == 0 && fmt.fmt.pix.pixelformat == wanted_format) {
            set = true;
            break;
        }
    }
    if (!set) return std::puts("This device cannot preview!"), false;
    format = fmt.fmt.pix.pixelformat;
    cam.width = static_cast<int32_t>(fmt.fmt.pix.width);
    cam.height = static_cast<int32_t>(fmt.fmt.pix.height);
    if (cam.width < 1 || cam.height < 1 || cam.width > 0xFFFF || cam.height > 0xFFFF)
        return std::puts("This device cannot preview!"), false;
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (ioctl(cam.fd, VIDIOC_REQBUFS, &req) != 0 || req.count == 0)
        return std::puts("This graph cannot preview"), false;
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (ioctl(cam.fd, VIDIOC_QUERYBUF, &buf) != 0) return std::puts("This graph cannot preview"), false;
        void* at = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, cam.fd, buf.m.offset);
        if (at == MAP_FAILED) return std::puts("This graph cannot preview"), false;
        cam.maps.emplace_back(at, buf.length);
        if (ioctl(cam.fd, VIDIOC_QBUF, &buf) != 0) return std::puts("This graph cannot preview"), false;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctl(cam.fd, VIDIOC_STREAMON, &type) != 0) return std::puts("This graph cannot preview"), false;
    return true;
}

// The stream's first frame is wanted at once: it becomes the preview's and the face's.
int32_t start(const Device& device, const Cell& face) {
    auto cam = std::make_unique<Camera>();
    uint32_t format = 0;
    if (device.path.empty()) {
        cam->width = device.width;
        cam->height = device.height;
    } else if (!start_v4l2(*cam, device, format)) {
        std::fflush(stdout);
        return 0;
    }
    cam->buffer.assign(static_cast<size_t>(cam->width) * cam->height, 0);
    if (object::is_object(cell::type(face))) {
        set_ratio(face, static_cast<double>(cam->width) / cam->height);
        cam->face_slot = handles::slot_store(face);
    }
    cam->state.store(wanted);
    g_cameras.push_back(std::move(cam));
    const auto id = static_cast<int32_t>(g_cameras.size());
    Camera* running = g_cameras.back().get();
    try {
        if (device.path.empty()) running->streamer = std::thread(stream_synthetic, running, id, device.rate);
        else running->streamer = std::thread(stream_v4l2, running, id, format);
    } catch (const std::system_error&) {
        g_cameras.back().reset();  // no thread to stream on: the device stays closed
        std::puts("Cannot start the camera's stream");
        return 0;
    }
    return id;
}

// Takes the next frame the stream delivers, waiting up to three seconds; none when none comes.
Cell take(Camera& cam) {
    cam.state.store(wanted);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const auto limit = std::chrono::steady_clock::now() + kTakeLimit;
    while (cam.state.load() != ready && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int32_t expected = wanted;
    if (!cam.state.compare_exchange_strong(expected, idle)) {
        while (cam.state.load() == copying) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Cell result = cell::none();
    if (cam.state.load() == ready) {
        result =
            image::from_pixels(static_cast<uint32_t>(cam.width), static_cast<uint32_t>(cam.height), cam.buffer.data());
    }
    cam.state.store(wanted);  // the preview goes on
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return result;
}

Camera& running(const Args<Plain::routine>& args) {
    Camera* cam = camera_of(args.integer(0));
    if (!cam) error::fire(ErrorId::invalid_arg, args[0]);  // closed, or never opened
    return *cam;
}

// ---- Camera faces ---------------------------------------------------------------------------------

int32_t field_index(const Cell& face, const char* name) { return object::find_word(face, symbol::make(name)); }

Cell field_of(const Cell& face, const char* name) {
    const int32_t at = field_index(face, name);
    return at < 0 ? cell::none() : *context::value_at(face.w1, static_cast<uint32_t>(at));
}

void stop_window_camera(WindowId window) {
    for (auto& cam : g_cameras)
        if (cam && cam->window == window) cam.reset();
}

Camera* window_camera(WindowId window) {
    for (auto& cam : g_cameras)
        if (cam && cam->window == window) return cam.get();
    return nullptr;
}

// Starts device `selected` for the face's window (a bad index raises first).
void start_selected(WindowId window, const Cell& face, const std::vector<Device>& list) {
    const Cell selected = field_of(face, "selected");
    if (!cell::is(selected, TypeId::integer)) return;
    const int32_t index = cell::as_integer(selected);
    if (index < 1 || static_cast<size_t>(index) > list.size()) error::fire(ErrorId::cannot_open, selected);
    stop_window_camera(window);
    if (const int32_t id = start(list[static_cast<size_t>(index) - 1], face)) g_cameras[id - 1]->window = window;
}

// ---- Routines -----------------------------------------------------------------------------------

// camera-devices: the names of the capture devices, at most eight.
Status camera_devices(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const std::vector<Device> list = devices();
    Cell* out = block::push_new(static_cast<uint32_t>(list.size()));
    for (const Device& d : list) values::append_text(cell::series_node(*out), d.name);
    const Cell result = *out;
    stack::pop(1);
    return args.done(result);
}

// camera-open index face: starts device index (1-based) streaming; its number, or none when the
// device cannot stream. A bad index is access cannot-open.
Status camera_open(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const std::vector<Device> list = devices();
    const int32_t index = args.integer(0);
    if (index < 1 || static_cast<size_t>(index) > list.size()) error::fire(ErrorId::cannot_open, args[0]);
    const int32_t id = start(list[static_cast<size_t>(index) - 1], args[1]);
    return args.done(id ? cell::integer(id) : cell::none());
}

// camera-close camera: stops the stream; false when it was not running.
Status camera_close(const int32_t* r) {
    const Args<Plain::routine> args(r);
    Camera* cam = camera_of(args.integer(0));
    if (cam) g_cameras[static_cast<size_t>(args.integer(0)) - 1].reset();
    return args.done(cell::logic(cam != nullptr));
}

// camera-take camera: the next frame as an image!, or none after three seconds without one.
Status camera_take(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(take(running(args)));
}

// camera-preview camera: [frames image] the preview has received, the image none before the
// first.
Status camera_preview(const int32_t* r) {
    const Args<Plain::routine> args(r);
    Camera& cam = running(args);
    Cell* out = block::push_new(2);
    block::append(cell::series_node(*out), cell::integer(cam.frames));
    block::append(cell::series_node(*out),
                  cam.latest.empty() ? cell::none()
                                     : image::from_pixels(static_cast<uint32_t>(cam.width),
                                                          static_cast<uint32_t>(cam.height), cam.latest.data()));
    const Cell result = *out;
    stack::pop(1);
    return args.done(result);
}

// camera-size camera: the video's size in pixels.
Status camera_size(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Camera& cam = running(args);
    return args.done(pair::make(cam.width, cam.height));
}

// fit-video size ratio: [offset size] of the video in a client area of that size.
Status fit_video(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Fit f =
        fit(static_cast<int32_t>(pair::x(args[0])), static_cast<int32_t>(pair::y(args[0])), cell::as_float(args[1]));
    Cell* out = block::push_new(2);
    block::append(cell::series_node(*out), pair::make(f.x, f.y));
    block::append(cell::series_node(*out), pair::make(f.width, f.height));
    const Cell result = *out;
    stack::pop(1);
    return args.done(result);
}

// add-test-camera name size rate: a synthetic device listed after the real ones, streaming the
// bar pattern at rate frames a second (none at 0).
Status add_test_camera(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const int32_t w = static_cast<int32_t>(pair::x(args[1])), h = static_cast<int32_t>(pair::y(args[1]));
    if (w < 1 || h < 1 || w > 4096 || h > 4096) error::fire(ErrorId::invalid_arg, args[1]);
    if (args.integer(2) < 0 || args.integer(2) > 1000) error::fire(ErrorId::invalid_arg, args[2]);
    g_synthetic.push_back(Device{values::utf8_of(args[0]), "", w, h, args.integer(2)});
    return args.done(cell::unset());
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"camera-devices", camera_devices}, {"camera-open", camera_open},         {"camera-close", camera_close},
    {"camera-take", camera_take},       {"camera-preview", camera_preview},   {"camera-size", camera_size},
    {"fit-video", fit_video},           {"add-test-camera", add_test_camera},
};

}  // namespace

Fit fit(int32_t w, int32_t h, double ratio) {
    if (!(ratio > 0)) return Fit{0, 0, w, h};
    double width, height;
    if (h * ratio >= w) {
        width = w;
        height = w / ratio;
    } else {
        height = h;
        width = h * ratio;
    }
    return Fit{static_cast<int32_t>(std::lround((w - width) / 2.0)),
               static_cast<int32_t>(std::lround((h - height) / 2.0)), static_cast<int32_t>(std::lround(width)),
               static_cast<int32_t>(std::lround(height))};
}

bool is_face(const Cell& face) {
    static const symbol::Id camera_word = symbol::resolve(symbol::make("camera"));
    if (!cell::is(face, TypeId::object)) return false;
    const Cell type = field_of(face, "type");
    return cell::is(type, TypeId::word) && symbol::resolve(type.w2) == camera_word;
}

void attach(WindowId window, const Cell& face) {
    const std::vector<Device> list = devices();
    const Cell selected = field_of(face, "selected");
    if (cell::is(selected, TypeId::integer) &&
        (cell::as_integer(selected) < 1 || static_cast<size_t>(cell::as_integer(selected)) > list.size()))
        error::fire(ErrorId::cannot_open, selected);
    const int32_t data = field_index(face, "data");
    if (data >= 0) {
        stack::Rooted kept(face);
        Cell* names = block::push_new(static_cast<uint32_t>(list.size()));
        for (const Device& d : list) values::append_text(cell::series_node(*names), d.name);
        const auto index = static_cast<uint32_t>(data);
        (void)context::set_at(kept.cell().w1, index, context::word_at(kept.cell().w1, index), *names, false);
        stack::pop(1);
    }
    start_selected(window, face, list);
}

void apply(WindowId window, const Cell& face, bool selected, bool image) {
    if (selected) {
        stop_window_camera(window);
        start_selected(window, face, devices());
    }
    const int32_t at = field_index(face, "image");
    Camera* cam = window_camera(window);
    if (!image || !cam || at < 0 || !cell::is(field_of(face, "image"), TypeId::none)) return;
    stack::Rooted kept(face);
    const Cell picture = take(*cam);
    const auto index = static_cast<uint32_t>(at);
    (void)context::set_at(kept.cell().w1, index, context::word_at(kept.cell().w1, index), picture, false);
}

void register_routines() {
    g_cameras.clear();
    g_synthetic.clear();
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
}

}  // namespace zub::platform::camera
