// A pass of shaderlab: one GPU program built from watched files and text of
// shaderlab's own, rebuilt when one of the files changes. Its build errors
// carry the GL's whole log, each location told as the user's file and line.
//
// Two forms:
//   prelude  "shaders/std.glsl" before the user's vertex and fragment file
//            (the toolkit's way, as GLProgram2 builds).
//   shared   one fragment file in the form shared-shader sites use: a
//            mainImage(out vec4, in vec2) over the i* inputs. shaderlab puts
//            the version line (the file's own #version, or #version 330), the
//            inputs' declarations, the common file and a main() that calls
//            mainImage around it, and draws it with a vertex shader of its own.
//            A file without mainImage gets no main() of ours, and neither
//            does one that compiles only without it (its own main() behind
//            another tool's #ifdef, say).
#pragma once

#include <GL/glew.h>

#include <string>
#include <vector>

#include "file.h"

// A stage's source assembled from pieces, and which file and line each of its
// lines came from.
class Source {
public:
    // Text from `file`, whose first line is that file's line `first_line`.
    void add(std::string text, const std::string& file, int first_line);
    // shaderlab's own text; errors in it are told as `what`.
    void add_own(std::string text, const std::string& what);

    const std::string& text() const { return text_; }
    // "file:line" for the source's line `line` (counted from 1), or the `what`
    // of shaderlab's own text there.
    std::string where(int line) const;
    // The GL's log with each location ("0:12(5): " and the like) told as
    // "file:line:column: ".
    std::string map_log(const std::string& log) const;

private:
    struct Segment {
        int first;         // the source's line number of the piece's first line
        std::string file;  // "" for shaderlab's own text
        int file_line;     // the file's line number of that first line
        std::string what;  // for shaderlab's own text
    };
    std::string text_;
    int lines_ = 0;
    std::vector<Segment> segments_;

    const Segment* segment_at(int line) const;
};

// Uniform locations of a linked program (-1: the program has none of the name).
struct Uniforms {
    GLint time, resolution, mouse;  // shaderlab's own, for the prelude form
    GLint iResolution, iTime, iTimeDelta, iFrame, iFrameRate, iMouse, iDate, iSampleRate,
        iChannelResolution, iChannelTime, iChannel[4];
    bool iFrame_is_float;  // declared float, as older shared shaders do

    void look_up(GLuint program);
};

class Pass {
public:
    // The shared form from `fragment`, with `common` ("" for none) before it;
    // or, with a `vertex` file, the prelude form.
    Pass(const std::string& fragment, const std::string& vertex, const std::string& common);
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    // Rebuilds when a file changed (or could not be read last time). True when
    // a new program was linked. A failed build throws std::runtime_error with
    // the message to show, and the last linked program stays in effect. A file
    // that is not a regular file (a FIFO, a device) counts as one that cannot
    // be opened, without being opened.
    bool update();

    const std::string& name() const { return name_; }  // "a.vert, a.frag" or "a.frag"
    GLuint program() const { return program_; }
    const Uniforms& uniforms() const { return uniforms_; }

private:
    const bool prelude_form;
    const std::string name_;
    std::vector<kit::File>
        files_;  // prelude form: prelude, vertex, fragment; shared: fragment, common
    GLuint program_ = 0;
    Uniforms uniforms_{};
    bool stale_ = true;  // build at the next update whatever the files say

    void build(const std::vector<std::string>& texts);
    // The shared form's fragment stage; `version` gets its #version line.
    Source shared_fragment(const std::vector<std::string>& texts, bool with_main,
                           std::string* version) const;
};

// "" when `path` is a regular file, else why it is refused as a source:
// "can't open: PATH" or "PATH is not a regular file".
std::string irregular_file(const std::string& path);
