// A GLFW program for the capture tests (kinds.h), on glfwGetTime: it ends when
// its window should close (a window manager's close).
#include <GLFW/glfw3.h>

#include <cstdio>

#include "kinds.h"
#include "tone.h"

int main()
{
    if (!glfwInit()) {
        std::fprintf(stderr, "kind_glfw: glfwInit failed\n");
        return 1;
    }
    GLFWwindow* window =
        glfwCreateWindow(kinds::kWidth, kinds::kHeight, "kind_glfw", nullptr, nullptr);
    if (!window) {
        std::fprintf(stderr, "kind_glfw: no window\n");
        return 1;
    }
    glfwMakeContextCurrent(window);
    glfwSetTime(0);
    while (!glfwWindowShouldClose(window)) {
        const auto second = static_cast<unsigned>(glfwGetTime());
        glClearColor(tone::red(second) / 255.0f, tone::kGreen / 255.0f, tone::kBlue / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glfwSwapBuffers(window);
        glfwPollEvents();
    }
    glfwTerminate();
    return 0;
}
