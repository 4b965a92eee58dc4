// A freeglut program for the capture tests (kinds.h), on clock_gettime: a
// window manager's close ends it (freeglut's own default).
#include <GL/freeglut.h>
#include <time.h>

#include "kinds.h"
#include "tone.h"

namespace {

timespec start;

double seconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

void display()
{
    const auto second = static_cast<unsigned>(seconds());
    glClearColor(tone::red(second) / 255.0f, tone::kGreen / 255.0f, tone::kBlue / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glutSwapBuffers();
    glutPostRedisplay();
}

}  // namespace

int main(int argc, char** argv)
{
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutInitWindowSize(kinds::kWidth, kinds::kHeight);
    glutCreateWindow("kind_glut");
    clock_gettime(CLOCK_MONOTONIC, &start);
    glutDisplayFunc(display);
    glutMainLoop();
    return 0;
}
