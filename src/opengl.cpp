// The shader-program classes and the GL helpers beside them.
#include "opengl.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace {

char tmp[8192];  // load_file's read buffer
char log[1024];  // link's info log

// Reads the whole file: a long shader must reach the compiler whole, not cut
// at the buffer's size. The text ends at its first NUL, as the GL would read it.
void load_file(const char* path, std::string* out)
{
    FILE* file = std::fopen(path, "rt");
    if (!file) {
        std::fprintf(stderr, "Can't open file %s\n", path);
        std::abort();
    }
    std::string text;
    size_t n;
    while ((n = std::fread(tmp, 1, sizeof(tmp), file)) > 0)
        text.append(tmp, n);
    // A read error (a directory, an I/O fault) is no source either.
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "Can't open file %s\n", path);
        std::abort();
    }
    *out = text.c_str();
}

void check_error(GLhandleARB shader)
{
    GLint status = -1;
    glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &status);
    // Not `log`, which would hide the unit's buffer that link() reads into.
    char info_log[1024];
    GLsizei len = 0;
    glGetInfoLogARB(shader, 1023, &len, info_log);
    assert(len < (int)sizeof(info_log));
    if (status == 1)
        return;
    info_log[len] = '\0';
    std::cerr << "Shader terror:\n" << info_log << std::endl;
    std::abort();
}

}  // namespace

void draw_fullscreen_quad(int width, int height, int, int)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    GLfloat viewport[4];
    glGetFloatv(GL_VIEWPORT, viewport);
    glOrtho(0, width, 0, height, -1, 1);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glViewport(static_cast<GLint>(viewport[0]), static_cast<GLint>(viewport[1]),
               static_cast<GLsizei>(viewport[2]), static_cast<GLsizei>(viewport[3]));
    // Leaves the matrix mode GL_MODELVIEW and the depth test enabled.
}

void safe_throw(const std::string& message)
{
    std::cerr << message << std::endl;
    std::abort();
}

std::string add_line_numbers(std::string text)
{
    return text;
}

// GLProgram

GLProgram::GLProgram(const std::string& std_source, const std::string& vertex_source,
                     const std::string& fragment_source)
    : program(0), vertex_shader(0), fragment_shader(0)
{
    std::clog << "Compling the following builtin shader..." << std::endl
              << "------------std-----------" << std::endl
              << add_line_numbers(std_source) << std::endl
              << "-------vertex shader------" << std::endl
              << add_line_numbers(vertex_source) << std::endl
              << "------fragment shader-----" << std::endl
              << add_line_numbers(fragment_source) << std::endl
              << "-----------end------------" << std::endl;
    try {
        compile(std_source, vertex_source, fragment_source);
    } catch (...) {
        // No destructor runs for a half-built object.
        release();
        throw;
    }
}

GLProgram::GLProgram(const char* vertex_path, const char* fragment_path)
    : program(0), vertex_shader(0), fragment_shader(0)
{
    if (!vertex_path || !fragment_path)
        return;
    // The block below continues this line.
    std::clog << "Compling shader ['" << vertex_path << "', '" << fragment_path << "']...";
    std::string std_source, vertex_source, fragment_source;
    load_file("shaders/std.glsl", &std_source);
    load_file(vertex_path, &vertex_source);
    load_file(fragment_path, &fragment_source);
    std::clog << "------------Compiling this shader-----------" << std::endl
              << add_line_numbers(std_source) << std::endl
              << "-----------" << std::endl
              << add_line_numbers(vertex_source) << std::endl
              << "-----------" << std::endl
              << add_line_numbers(fragment_source) << std::endl
              << "---------------------end--------------------" << std::endl;
    try {
        compile(std_source, vertex_source, fragment_source);
    } catch (...) {
        release();
        throw;
    }
}

GLProgram::~GLProgram()
{
    // Built from a null path: no GL object to delete, and perhaps no context.
    if (!program && !vertex_shader && !fragment_shader)
        return;
    release();
    assert(glGetError() == 0);
}

void GLProgram::release()
{
    glDeleteProgram(program);
    glDeleteShader(vertex_shader);
    glDeleteShader(fragment_shader);
}

void GLProgram::compile(const std::string& std_source, const std::string& vertex_source,
                        const std::string& fragment_source)
{
    program = glCreateProgramObjectARB();

    vertex_shader = glCreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    const GLcharARB* vertex_strings[2] = {std_source.c_str(), vertex_source.c_str()};
    glShaderSourceARB(vertex_shader, 2, vertex_strings, nullptr);
    glCompileShaderARB(vertex_shader);
    assert(glGetError() == 0);
    check_error(vertex_shader);

    fragment_shader = glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    const GLcharARB* fragment_strings[2] = {std_source.c_str(), fragment_source.c_str()};
    glShaderSourceARB(fragment_shader, 2, fragment_strings, nullptr);
    glCompileShaderARB(fragment_shader);
    assert(glGetError() == 0);
    check_error(fragment_shader);

    glAttachObjectARB(program, vertex_shader);
    glAttachObjectARB(program, fragment_shader);
    link();
}

void GLProgram::link()
{
    GLint status = 0;
    glLinkProgramARB(program);
    glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &status);
    if (status == 1) {
        assert(glGetError() == 0);
        return;
    }
    GLsizei len = 0;
    glGetInfoLogARB(program, 1023, &len, log);
    assert(len < (int)sizeof(log));
    log[len] = '\0';
    std::fprintf(stderr, "Error %d in program %s,%s:\n%s", status, "<vertFile>", "<fragFile>", log);
    throw "shader error";
}

void GLProgram::use()
{
    glUseProgramObjectARB(program);
}

void GLProgram::unuse()
{
    glUseProgramObjectARB(0);
}

// An object from a null path has no program to look names up in; asking the
// GL with name 0 would leave an error pending for the next assertion.

void GLProgram::set_int(const char* name, int value)
{
    if (program)
        glUniform1i(glGetUniformLocationARB(program, name), value);
}

void GLProgram::set_float(const char* name, float value)
{
    if (program)
        glUniform1f(glGetUniformLocationARB(program, name), value);
}

void GLProgram::set_vector2(const char* name, const float* v)
{
    if (program)
        glUniform2fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram::set_vector3(const char* name, const float* v)
{
    if (program)
        glUniform3fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram::set_vector4(const char* name, const float* v)
{
    if (program)
        glUniform4fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram::set_matrix4(const char* name, const float* m)
{
    if (program)
        glUniformMatrix4fv(glGetUniformLocationARB(program, name), 1, GL_FALSE, m);
}

void GLProgram::set_float_array(const char* name, const float* v, int count)
{
    if (program)
        glUniform1fv(glGetUniformLocationARB(program, name), count, v);
}

void GLProgram::bind_attribute_name_with_index(unsigned int index, const char* name)
{
    if (program)
        glBindAttribLocation(program, index, name);
}

// GLProgram2

GLProgram2::GLProgram2(const std::string& vertex_path, const std::string& fragment_path)
    : vertex_file(vertex_path),
      fragment_file(fragment_path),
      std_file("shaders/std.glsl"),
      program(0),
      vertex_shader(0),
      fragment_shader(0)
{
    program = glCreateProgram();
    vertex_shader = glCreateShader(GL_VERTEX_SHADER);
    fragment_shader = glCreateShader(GL_FRAGMENT_SHADER);
    glAttachShader(program, vertex_shader);
    glAttachShader(program, fragment_shader);
    try {
        update();
    } catch (...) {
        // No destructor runs for a half-built object.
        release();
        throw;
    }
}

GLProgram2::~GLProgram2()
{
    release();
}

void GLProgram2::release()
{
    glDeleteProgram(program);
    glDeleteShader(vertex_shader);
    glDeleteShader(fragment_shader);
}

void GLProgram2::update()
{
    // The prelude is polled first; polling stops at the first change.
    if (!std_file.has_changed() && !vertex_file.has_changed() && !fragment_file.has_changed())
        return;

    // Every source is read again, whichever changed.
    const std::string std_source = std_file.read();
    const std::string vertex_source = vertex_file.read();
    const GLchar* vertex_strings[2] = {std_source.c_str(), vertex_source.c_str()};
    glShaderSource(vertex_shader, 2, vertex_strings, nullptr);
    glCompileShader(vertex_shader);

    const std::string fragment_source = fragment_file.read();
    const GLchar* fragment_strings[2] = {std_source.c_str(), fragment_source.c_str()};
    glShaderSource(fragment_shader, 2, fragment_strings, nullptr);
    glCompileShader(fragment_shader);

    GLint status = 0;
    // Not `log`, which would hide the unit's buffer (clang warns).
    char info_log[1024] = "";
    glGetShaderiv(vertex_shader, GL_COMPILE_STATUS, &status);
    if (status == 0) {
        glGetShaderInfoLog(vertex_shader, sizeof(info_log), nullptr, info_log);
        throw std::runtime_error(vertex_file.path + ": vertex shader compilation failed:\n" +
                                 info_log);
    }
    glGetShaderiv(fragment_shader, GL_COMPILE_STATUS, &status);
    if (status == 0) {
        glGetShaderInfoLog(fragment_shader, sizeof(info_log), nullptr, info_log);
        throw std::runtime_error(fragment_file.path + ": fragment shader compilation failed:\n" +
                                 info_log);
    }
    // A failed link would leave `program` with no executable, and every later
    // use() with GL_INVALID_OPERATION: link a fresh object and swap it in only
    // once it links, so the last good build stays in effect.
    const GLuint linked = glCreateProgram();
    glAttachShader(linked, vertex_shader);
    glAttachShader(linked, fragment_shader);
    glLinkProgram(linked);
    glGetProgramiv(linked, GL_LINK_STATUS, &status);
    if (status == 0) {
        glGetProgramInfoLog(linked, sizeof(info_log), nullptr, info_log);
        glDeleteProgram(linked);
        throw std::runtime_error(vertex_file.path + "," + fragment_file.path + ": link failed:\n" +
                                 info_log);
    }
    // Still current, the old program lives on until the next glUseProgram.
    glDeleteProgram(program);
    program = linked;
}

void GLProgram2::use()
{
    // A broken edit must not stop a running program: the last linked build
    // stays in effect until the file is fixed.
    try {
        update();
    } catch (...) {
    }
    glUseProgram(program);
}

void GLProgram2::unuse()
{
    glUseProgram(0);
}

void GLProgram2::set_int(const char* name, int value)
{
    glUniform1i(glGetUniformLocationARB(program, name), value);
}

void GLProgram2::set_float(const char* name, float value)
{
    glUniform1f(glGetUniformLocationARB(program, name), value);
}

void GLProgram2::set_vector2(const char* name, const float* v)
{
    glUniform2fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram2::set_vector3(const char* name, const float* v)
{
    glUniform3fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram2::set_vector4(const char* name, const float* v)
{
    glUniform4fv(glGetUniformLocationARB(program, name), 1, v);
}

void GLProgram2::set_matrix4(const char* name, const float* m)
{
    glUniformMatrix4fv(glGetUniformLocationARB(program, name), 1, GL_FALSE, m);
}
