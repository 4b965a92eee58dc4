// Test support: the lines and points an effect hands the GL, recorded in
// feedback mode with world units mapped one to one, bit for bit, onto window
// coordinates, so every vertex comes back exactly as it was given.
#pragma once

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <vector>

struct FedVertex {
    float x, y, z;
    float r, g, b, a;  // as the GL colours the vertex: clamped to 0..1
};

struct FedLine {
    FedVertex from, to;
};

struct Feedback {
    std::vector<FedLine> lines;
    std::vector<FedVertex> points;
};

// Runs draw() in feedback mode. The view volume is x, y in -2048..2048 and
// z in -1..1; anything beyond it comes back clipped.
template <typename Draw>
Feedback record_feedback(Draw draw)
{
    // A framebuffer of our own: the window's is stored upside down, and
    // flipping y back would round the coordinates.
    GLuint framebuffer = 0, colour = 0;
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 16, 16);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);

    // Scale 2^-11 then 2048, offset 0 both ways: exact for every float. The
    // caller's viewport and matrices come back afterwards.
    glPushAttrib(GL_VIEWPORT_BIT | GL_TRANSFORM_BIT);
    glViewport(-2048, -2048, 4096, 4096);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-2048, 2048, -2048, 2048, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    std::vector<GLfloat> buffer(1 << 18);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);

    Feedback fed;
    if (count < 0) {
        ADD_FAILURE() << "feedback buffer overflowed";
        return fed;
    }
    auto vertex = [&](GLint& at) {
        const GLfloat* v = &buffer[at];
        at += 7;
        return FedVertex{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    };
    for (GLint at = 0; at < count;) {
        const GLfloat token = buffer[at++];
        if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            const FedVertex from = vertex(at);
            const FedVertex to = vertex(at);
            fed.lines.push_back({from, to});
        } else if (token == GL_POINT_TOKEN) {
            fed.points.push_back(vertex(at));
        } else {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
    }
    return fed;
}
