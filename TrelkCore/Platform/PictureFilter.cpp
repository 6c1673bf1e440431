#include "TrelkCore/Platform/PictureFilter.h"

#include "TrelkCore/Platform/AVHolders.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace Media {
namespace {

void check(int result) {
    if (result < 0) throw std::runtime_error(AV::errorText(result));
}

std::string sourceArguments(const AVFrame& frame, AVRational timeBase) {
    const AVRational aspect = frame.sample_aspect_ratio.num > 0 ? frame.sample_aspect_ratio : AVRational{1, 1};
    return "video_size=" + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
           ":pix_fmt=" + std::to_string(frame.format) + ":time_base=" + std::to_string(timeBase.num) + "/" +
           std::to_string(timeBase.den) + ":pixel_aspect=" + std::to_string(aspect.num) + "/" +
           std::to_string(aspect.den);
}

} // namespace

void PictureFilter::FreeGraph::operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
void PictureFilter::FreeFrame::operator()(AVFrame* frame) const { av_frame_free(&frame); }

PictureFilter::PictureFilter(std::string chain) : chain(std::move(chain)), filtered(av_frame_alloc()) {
    if (!filtered) throw std::bad_alloc();
}

PictureFilter::~PictureFilter() = default;

void PictureFilter::build(const AVFrame& first, AVRational timeBase) {
    graph.reset(avfilter_graph_alloc());
    if (!graph) throw std::bad_alloc();
    check(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in",
                                       sourceArguments(first, timeBase).c_str(), nullptr, graph.get()));
    check(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                       graph.get()));
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        throw std::bad_alloc();
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    const int parsed = avfilter_graph_parse_ptr(graph.get(), chain.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    check(parsed);
    check(avfilter_graph_config(graph.get(), nullptr));
}

void PictureFilter::push(AVFrame* frame, AVRational timeBase) {
    if (!graph) {
        if (!frame) {
            over = true; // no picture ever came
            return;
        }
        build(*frame, timeBase);
    }
    check(av_buffersrc_add_frame_flags(source, frame, AV_BUFFERSRC_FLAG_KEEP_REF));
}

AVFrame* PictureFilter::pull() {
    if (!graph || over) return nullptr;
    av_frame_unref(filtered.get());
    const int received = av_buffersink_get_frame(sink, filtered.get());
    if (received == AVERROR(EAGAIN)) return nullptr;
    if (received == AVERROR_EOF) {
        over = true;
        return nullptr;
    }
    check(received);
    return filtered.get();
}

AVRational PictureFilter::timeBase() const { return sink ? av_buffersink_get_time_base(sink) : AVRational{1, 1}; }

} // namespace Media
