// A pass: watched files and shaderlab's own text assembled into a program,
// with the GL's log told in the user's files and lines.
#include "pass.h"

#include <sys/stat.h>

#include <ios>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

const char* const kPrelude = "shaders/std.glsl";
const char* const kDefaultVersion = "#version 330\n";

// The inputs of the shared form, under their usual names and types. The
// packing functions are core only from 4.20 but common in shared shaders.
const char* const kDeclarations =
    "#ifdef GL_ARB_shading_language_packing\n"
    "#extension GL_ARB_shading_language_packing : enable\n"
    "#endif\n"
    "#ifdef GL_ES\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "#endif\n"
    "#define HW_PERFORMANCE 1\n"
    "uniform vec3 iResolution;\n"
    "uniform float iTime;\n"
    "uniform float iTimeDelta;\n"
    "uniform int iFrame;\n"
    "uniform float iFrameRate;\n"
    "uniform vec4 iMouse;\n"
    "uniform vec4 iDate;\n"
    "uniform float iSampleRate;\n"
    "uniform vec3 iChannelResolution[4];\n"
    "uniform float iChannelTime[4];\n"
    "uniform sampler2D iChannel0;\n"
    "uniform sampler2D iChannel1;\n"
    "uniform sampler2D iChannel2;\n"
    "uniform sampler2D iChannel3;\n";

const char* const kMain =
    "out vec4 shaderlab_colour;\n"
    "void main()\n"
    "{\n"
    "    mainImage(shaderlab_colour, gl_FragCoord.xy);\n"
    "}\n";

// The quad's corners arrive as generic attribute 0, which glVertex feeds.
const char* const kVertex =
    "in vec2 shaderlab_corner;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = vec4(shaderlab_corner, 0.0, 1.0);\n"
    "}\n";

int count_lines(const std::string& text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

// The text with its comments blanked out, line ends kept.
std::string without_comments(const std::string& text)
{
    std::string out = text;
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '/' && out[i + 1] == '/') {
            for (; i < out.size() && out[i] != '\n'; ++i)
                out[i] = ' ';
        } else if (out[i] == '/' && out[i + 1] == '*') {
            size_t end = out.find("*/", i + 2);
            end = end == std::string::npos ? out.size() : end + 2;
            for (; i < end; ++i)
                if (out[i] != '\n')
                    out[i] = ' ';
            --i;
        }
    }
    return out;
}

// The file's opening up to and including its #version line, when it has one
// before anything but comments and blank space; "" otherwise.
std::string version_prefix(const std::string& text)
{
    const std::string bare = without_comments(text);
    const size_t first = bare.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || bare[first] != '#')
        return "";
    const size_t word = bare.find_first_not_of(" \t", first + 1);
    if (word == std::string::npos || bare.compare(word, 7, "version") != 0)
        return "";
    const size_t end = text.find('\n', word);
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

bool defines_main(const std::string& text)
{
    static const std::regex main_function(R"(\bvoid\s+main\s*\()");
    return std::regex_search(without_comments(text), main_function);
}

bool uses_main_image(const std::string& text)
{
    static const std::regex main_image(R"(\bmainImage\s*\()");
    return std::regex_search(without_comments(text), main_image);
}

std::string info_log(GLuint object, bool is_program)
{
    GLint length = 0;
    if (is_program)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (is_program)
        glGetProgramInfoLog(object, length, nullptr, &log[0]);
    else
        glGetShaderInfoLog(object, length, nullptr, &log[0]);
    log.resize(log.find('\0'));
    return log;
}

GLuint compile(GLenum type, const Source& source)
{
    const GLuint shader = glCreateShader(type);
    const GLchar* text = source.text().c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return shader;
}

bool compiled(GLuint shader)
{
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    return status != 0;
}

}  // namespace

std::string irregular_file(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "can't open: " + path;
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    return "";
}

// Source

void Source::add(std::string text, const std::string& file, int first_line)
{
    if (text.empty() || text.back() != '\n')
        text += '\n';
    segments_.push_back(Segment{lines_ + 1, file, first_line, ""});
    lines_ += count_lines(text);
    text_ += text;
}

void Source::add_own(std::string text, const std::string& what)
{
    add(std::move(text), "", 0);
    segments_.back().what = what;
}

const Source::Segment* Source::segment_at(int line) const
{
    const Segment* at = segments_.empty() ? nullptr : &segments_.front();
    for (const Segment& segment : segments_)
        if (segment.first <= line)
            at = &segment;
    return at;
}

std::string Source::where(int line) const
{
    const Segment* at = segment_at(line);
    if (!at)
        return "?";
    if (at->file.empty())
        return at->what;
    return at->file + ":" + std::to_string(at->file_line + line - at->first);
}

std::string Source::map_log(const std::string& log) const
{
    // Mesa's "0:12(5): ", NVIDIA's "0(12) : ", and "ERROR: 0:12: " of others.
    static const std::regex mesa(R"(^\d+:(\d+)\((\d+)\): (.*)$)");
    static const std::regex nvidia(R"(^\d+\((\d+)\) : (.*)$)");
    static const std::regex others(R"(^(ERROR|WARNING): \d+:(\d+): (.*)$)");
    std::istringstream in(log);
    std::string out;
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, mesa)) {
            const int at = std::stoi(m[1]);
            const Segment* segment = segment_at(at);
            const bool theirs = segment && !segment->file.empty();
            line = where(at) + (theirs ? ":" + m[2].str() : "") + ": " + m[3].str();
        } else if (std::regex_match(line, m, nvidia)) {
            line = where(std::stoi(m[1])) + ": " + m[2].str();
        } else if (std::regex_match(line, m, others)) {
            line = where(std::stoi(m[2])) + ": " + (m[1] == "ERROR" ? "error: " : "warning: ") +
                   m[3].str();
        }
        out += line + "\n";
    }
    return out;
}

// Uniforms

void Uniforms::look_up(GLuint program)
{
    const auto at = [program](const char* name) { return glGetUniformLocation(program, name); };
    time = at("time");
    resolution = at("resolution");
    mouse = at("mouse");
    iResolution = at("iResolution");
    iTime = at("iTime");
    iTimeDelta = at("iTimeDelta");
    iFrame = at("iFrame");
    iFrameRate = at("iFrameRate");
    iMouse = at("iMouse");
    iDate = at("iDate");
    iSampleRate = at("iSampleRate");
    iChannelResolution = at("iChannelResolution");
    iChannelTime = at("iChannelTime");
    const char* const channels[4] = {"iChannel0", "iChannel1", "iChannel2", "iChannel3"};
    for (int i = 0; i < 4; ++i)
        iChannel[i] = at(channels[i]);

    iFrame_is_float = false;
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[16];
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(program, static_cast<GLuint>(i), sizeof name, nullptr, &size, &type,
                           name);
        if (std::string(name) == "iFrame")
            iFrame_is_float = type == GL_FLOAT;
    }
}

// Pass

Pass::Pass(const std::string& fragment, const std::string& vertex, const std::string& common)
    : prelude_form(!vertex.empty()), name_(prelude_form ? vertex + ", " + fragment : fragment)
{
    files_.reserve(3);
    if (prelude_form) {
        files_.emplace_back(kPrelude);
        files_.emplace_back(vertex);
        files_.emplace_back(fragment);
    } else {
        files_.emplace_back(fragment);
        if (!common.empty())
            files_.emplace_back(common);
    }
}

Pass::~Pass()
{
    glDeleteProgram(program_);
}

bool Pass::update()
{
    // Opening a FIFO would wait for a writer, and the window with it.
    for (const kit::File& file : files_) {
        const std::string problem = irregular_file(file.path);
        if (!problem.empty()) {
            stale_ = true;
            throw std::runtime_error(problem);
        }
    }
    bool changed = stale_;
    for (const kit::File& file : files_)
        changed = changed || file.has_changed();
    if (!changed)
        return false;
    stale_ = false;

    std::vector<std::string> texts;
    for (kit::File& file : files_) {
        try {
            texts.push_back(file.read());
        } catch (const std::ios_base::failure&) {
            // A file that shrank while it was read: an editor still writing it.
            stale_ = true;
            throw std::runtime_error("cannot read " + file.path + " (it changed while being read)");
        }
    }
    build(texts);
    return true;
}

Source Pass::shared_fragment(const std::vector<std::string>& texts, bool with_main,
                             std::string* version) const
{
    Source fragment;
    const std::string& path = files_[0].path;
    const std::string prefix = version_prefix(texts[0]);
    *version = kDefaultVersion;
    if (prefix.empty()) {
        fragment.add_own(*version, path + " (shaderlab's #version line)");
    } else {
        fragment.add(prefix, path, 1);
        // Its last line, the #version line itself, opens our vertex shader too.
        const size_t end = prefix.back() == '\n' ? prefix.size() - 1 : prefix.size();
        const size_t start = prefix.rfind('\n', end - 1) + 1;  // 0 after npos
        *version = prefix.substr(start, end - start) + "\n";
    }
    fragment.add_own(kDeclarations, path + " (shaderlab's declarations of the inputs)");
    if (files_.size() > 1)
        fragment.add(texts[1], files_[1].path, 1);
    fragment.add(texts[0].substr(prefix.size()), path, 1 + count_lines(prefix));
    if (with_main)
        fragment.add_own(kMain, path + " (shaderlab's main(), which calls mainImage)");
    return fragment;
}

void Pass::build(const std::vector<std::string>& texts)
{
    Source vertex, fragment;
    std::string vertex_name, fragment_name, link_name;
    GLuint vertex_shader = 0, fragment_shader = 0;
    if (prelude_form) {
        vertex_name = files_[1].path;
        fragment_name = files_[2].path;
        link_name = vertex_name + "," + fragment_name;
        vertex.add(texts[0], kPrelude, 1);
        vertex.add(texts[1], vertex_name, 1);
        fragment.add(texts[0], kPrelude, 1);
        fragment.add(texts[2], fragment_name, 1);
        // Both stages compile before either is looked at, the vertex stage first.
        vertex_shader = compile(GL_VERTEX_SHADER, vertex);
        fragment_shader = compile(GL_FRAGMENT_SHADER, fragment);
    } else {
        vertex_name = fragment_name = link_name = files_[0].path;
        std::string version;
        const bool with_main = uses_main_image(texts[0]);
        fragment = shared_fragment(texts, with_main, &version);
        vertex.add_own(version + kVertex, files_[0].path + " (shaderlab's vertex shader)");
        vertex_shader = compile(GL_VERTEX_SHADER, vertex);
        fragment_shader = compile(GL_FRAGMENT_SHADER, fragment);
        // A main() of the file's own may stand behind a condition (another
        // tool's #ifdef) that only the compiler weighs: then without ours.
        if (with_main && !compiled(fragment_shader) && defines_main(texts[0])) {
            const Source alone = shared_fragment(texts, false, &version);
            const GLuint retry = compile(GL_FRAGMENT_SHADER, alone);
            if (compiled(retry)) {
                glDeleteShader(fragment_shader);
                fragment_shader = retry;
            } else {
                glDeleteShader(retry);
            }
        }
    }

    std::string failure;
    if (!compiled(vertex_shader))
        failure = vertex_name + ": vertex shader compilation failed:\n" +
                  vertex.map_log(info_log(vertex_shader, false));
    else if (!compiled(fragment_shader))
        failure = fragment_name + ": fragment shader compilation failed:\n" +
                  fragment.map_log(info_log(fragment_shader, false));
    if (!failure.empty()) {
        glDeleteShader(vertex_shader);
        glDeleteShader(fragment_shader);
        throw std::runtime_error(failure);
    }

    // A fresh program, swapped in only once it links: the last good one
    // stays in effect meanwhile.
    const GLuint linked = glCreateProgram();
    glAttachShader(linked, vertex_shader);
    glAttachShader(linked, fragment_shader);
    if (!prelude_form)
        glBindAttribLocation(linked, 0, "shaderlab_corner");
    glLinkProgram(linked);
    // The program keeps them for as long as it lives.
    glDeleteShader(vertex_shader);
    glDeleteShader(fragment_shader);
    GLint status = 0;
    glGetProgramiv(linked, GL_LINK_STATUS, &status);
    if (status == 0) {
        const std::string log = info_log(linked, true);
        glDeleteProgram(linked);
        throw std::runtime_error(link_name + ": link failed:\n" + log);
    }
    glDeleteProgram(program_);
    program_ = linked;
    uniforms_.look_up(program_);
}
