// libjpeg's fatal errors as jumps, for the JPEG reader and writer. libjpeg
// reports one by calling error_exit, which must not return: it jumps back
// to the setjmp of the call into libjpeg that failed. The functions that
// call into libjpeg hold nothing that needs destroying, so the jump skips
// no destructor. Warnings (corrupt but usable data) are not fatal.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct TLibjpegErrors {
    jpeg_error_mgr manager{};
    std::jmp_buf failed;
    // libjpeg's own words for the last fatal error.
    char message[JMSG_LENGTH_MAX] = {};

    // Makes these the error handlers of a compressor or decompressor.
    void Install(j_common_ptr common)
    {
        common->err = jpeg_std_error(&manager);
        common->client_data = this;
        manager.error_exit = [](j_common_ptr c) {
            auto *errors = static_cast<TLibjpegErrors *>(c->client_data);
            c->err->format_message(c, errors->message);
            std::longjmp(errors->failed, 1);
        };
        manager.output_message = [](j_common_ptr) {};
    }
};
