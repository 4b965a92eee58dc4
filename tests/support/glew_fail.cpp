// Test-only preload library: a glewInit that fails as it does on a GL older
// than 1.1, so the demo's handling of a GLEW failure can be seen for real.
#include <GL/glew.h>

extern "C" GLenum GLEWAPIENTRY glewInit(void)
{
    return GLEW_ERROR_GL_VERSION_10_ONLY;
}
