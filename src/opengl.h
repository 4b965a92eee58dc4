// GPU programs built from the std prelude ("shaders/std.glsl") and a vertex and
// a fragment source: GLProgram builds once, GLProgram2 rebuilds whenever one of
// its files changes on disk. Plus a few GL helpers.
#pragma once

#include <GL/glew.h>

#include <string>

#include "file.h"

// Sets up a width x height pixel ortho projection and viewport, then restores
// the caller's matrices and viewport; draws nothing. Leaves the matrix mode
// GL_MODELVIEW and the depth test enabled. The last two arguments are unused.
void draw_fullscreen_quad(int width, int height, int, int);

// Writes the message and a line end to std::cerr, then aborts.
[[noreturn]] void safe_throw(const std::string& message);

// The formatting step for logged shader sources: returns the text unchanged.
std::string add_line_numbers(std::string text);

// A program built once, at construction, through ARB_shader_objects. Logs its
// sources on std::clog; a compile failure prints the GL's log and aborts, a
// link failure prints it and throws the C string "shader error".
class GLProgram {
public:
    GLhandleARB program;
    GLhandleARB vertex_shader;
    GLhandleARB fragment_shader;

    GLProgram(const std::string& std_source, const std::string& vertex_source,
              const std::string& fragment_source);
    // Reads "shaders/std.glsl" and the two files. With a null path nothing is
    // built: every handle stays 0, and use, the setters and the destructor do
    // nothing.
    GLProgram(const char* vertex_path, const char* fragment_path);
    ~GLProgram();
    // Each object owns GL objects that its destructor deletes.
    GLProgram(const GLProgram&) = delete;
    GLProgram& operator=(const GLProgram&) = delete;

    void compile(const std::string& std_source, const std::string& vertex_source,
                 const std::string& fragment_source);
    // Links again, e.g. after bind_attribute_name_with_index.
    void link();

    void use();
    void unuse();
    // The setters act on the program in use: call use() first.
    void set_int(const char* name, int value);
    void set_float(const char* name, float value);
    void set_vector2(const char* name, const float* v);
    void set_vector3(const char* name, const float* v);
    void set_vector4(const char* name, const float* v);
    void set_matrix4(const char* name, const float* m);  // column-major
    void set_float_array(const char* name, const float* v, int count);
    // Takes effect at the program's next link.
    void bind_attribute_name_with_index(unsigned int index, const char* name);

private:
    void release();
};

// A program that follows its files: every use() rebuilds it if the vertex
// file, the fragment file or "shaders/std.glsl" has changed. Logs nothing and
// never aborts.
class GLProgram2 {
public:
    kit::File vertex_file;
    kit::File fragment_file;
    kit::File std_file;
    GLuint program;
    GLuint vertex_shader;
    GLuint fragment_shader;

    // Builds at once; a build error leaves as std::runtime_error.
    GLProgram2(const std::string& vertex_path, const std::string& fragment_path);
    ~GLProgram2();
    // Each object owns GL objects that its destructor deletes.
    GLProgram2(const GLProgram2&) = delete;
    GLProgram2& operator=(const GLProgram2&) = delete;

    // Rebuilds if a file changed. Throws std::runtime_error naming the paths
    // and carrying the GL's log, or the open error of a file. A failed build
    // leaves the last linked program in effect; a successful link puts a new
    // program object into `program`.
    void update();
    // update() with every error swallowed (the last linked build stays in
    // effect), then makes the program current.
    void use();
    void unuse();
    // The setters act on the program in use: call use() first.
    void set_int(const char* name, int value);
    void set_float(const char* name, float value);
    void set_vector2(const char* name, const float* v);
    void set_vector3(const char* name, const float* v);
    void set_vector4(const char* name, const float* v);
    void set_matrix4(const char* name, const float* m);  // column-major

private:
    void release();
};
