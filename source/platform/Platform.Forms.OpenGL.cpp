// The window-system side of forms: GLFW windows without a client API, the
// program's one OpenGL context made current on a window's EGL surface to
// present, and a painter that turns control painting into Dear ImGui draw
// lists, rendered by our own small GL renderer (so every GL call goes through
// the same loader as the rest of the program).

#include <epoxy/gl.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <imgui.h>

// GLFW's X11 accessors (declared here: its native header needs the X
// extension headers, and only these two plain C functions are used).
extern "C" {
void* glfwGetX11Display(void);
unsigned long glfwGetX11Window(GLFWwindow* window);
}

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "Platform.EGL.h"
#include "Platform.Fonts.h"
#include "Platform.Forms.h"
#include "Platform.Log.h"

namespace korvane {

namespace {

constexpr float FontSize = 15.0f;

ImU32 ToImColor(TAlphaColor C, float AOpacity = 1)
{
    const uint32_t v = C.Value;
    const auto a = static_cast<uint32_t>(std::clamp(float((v >> 24) & 0xFF) * AOpacity, 0.0f, 255.0f));
    return IM_COL32((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, a);
}

// ---------------------------------------------------------------- GL resources of the painter

const char* const PainterVS = R"(#version 430
layout(location = 0) in vec2 a_Position;
layout(location = 1) in vec2 a_TexCoord;
layout(location = 2) in vec4 a_Color;
uniform mat4 u_Projection;
out vec2 v_TexCoord;
out vec4 v_Color;
void main()
{
    v_TexCoord = a_TexCoord;
    v_Color = a_Color;
    gl_Position = u_Projection * vec4(a_Position, 0.0, 1.0);
}
)";

const char* const PainterFS = R"(#version 430
in vec2 v_TexCoord;
in vec4 v_Color;
uniform sampler2D u_Texture;
out vec4 o_Color;
void main()
{
    o_Color = v_Color * texture(u_Texture, v_TexCoord);
}
)";

GLuint CompileStage(GLenum AType, const char* ASource)
{
    GLuint s = glCreateShader(AType);
    glShaderSource(s, 1, &ASource, nullptr);
    glCompileShader(s);
    GLint ok = GL_FALSE;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(s, sizeof(log), nullptr, log);
        glDeleteShader(s);
        throw Exception(std::string("form painter shader: ") + log);
    }
    return s;
}

// The ImGui context, its font atlas texture and the renderer's program and
// buffers; made on the first paint, while the program's context is current.
struct TPainterResources {
    ImGuiContext* Context = nullptr;
    GLuint Program = 0, VAO = 0, VBO = 0, IBO = 0, FontTexture = 0, WhiteTexture = 0;
    GLint ProjectionLocation = -1;
    // Textures of bitmaps painted in the current frame, freed after it.
    std::vector<GLuint> FrameTextures;

    void Ensure()
    {
        if (Context) {
            ImGui::SetCurrentContext(Context);
            return;
        }
        // Made current elsewhere when it exists (perhaps on a window surface): keep that.
        if (!platform::EGLDevice::Instance().HasContext()) platform::EGLDevice::Instance().CreateContext();
        Context = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.LogFilename = nullptr;
        const auto font = DefaultFontData();
        ImFontConfig config;
        config.FontDataOwnedByAtlas = false;
        io.Fonts->AddFontFromMemoryTTF(const_cast<uint8_t*>(font.data()), int(font.size()), FontSize, &config);
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        FontTexture = MakeTexture(w, h, pixels, GL_RGBA);
        io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(FontTexture)));
        const uint32_t white = 0xFFFFFFFF;
        WhiteTexture = MakeTexture(1, 1, &white, GL_RGBA);

        const GLuint vs = CompileStage(GL_VERTEX_SHADER, PainterVS), fs = CompileStage(GL_FRAGMENT_SHADER, PainterFS);
        Program = glCreateProgram();
        glAttachShader(Program, vs);
        glAttachShader(Program, fs);
        glLinkProgram(Program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        ProjectionLocation = glGetUniformLocation(Program, "u_Projection");
        glGenVertexArrays(1, &VAO);
        glGenBuffers(1, &VBO);
        glGenBuffers(1, &IBO);
        glBindVertexArray(VAO);
        glBindBuffer(GL_ARRAY_BUFFER, VBO);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                              reinterpret_cast<void*>(offsetof(ImDrawVert, pos)));
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(ImDrawVert),
                              reinterpret_cast<void*>(offsetof(ImDrawVert, uv)));
        glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(ImDrawVert),
                              reinterpret_cast<void*>(offsetof(ImDrawVert, col)));
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        if (epoxy_has_gl_extension("GL_KHR_debug") || epoxy_gl_version() >= 43) {
            glObjectLabel(GL_PROGRAM, Program, -1, "TFormPainter.Program");
            glObjectLabel(GL_TEXTURE, FontTexture, -1, "TFormPainter.Font");
        }
    }

    static GLuint MakeTexture(int AWidth, int AHeight, const void* APixels, GLenum AFormat)
    {
        GLuint t = 0;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, AWidth, AHeight, 0, AFormat, GL_UNSIGNED_BYTE, APixels);
        glBindTexture(GL_TEXTURE_2D, 0);
        return t;
    }

    void Render(ImDrawData* AData, int AWidth, int AHeight)
    {
        glViewport(0, 0, AWidth, AHeight);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_STENCIL_TEST);
        glEnable(GL_BLEND);
        glBlendEquation(GL_FUNC_ADD);
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_SCISSOR_TEST);
        glUseProgram(Program);
        // Form coordinates (y down) to clip space.
        const float L = 0, R = float(AWidth), T = 0, B = float(AHeight);
        const float projection[16] = {2 / (R - L), 0, 0, 0, 0, 2 / (T - B), 0, 0, 0, 0, -1, 0,
                                      (R + L) / (L - R), (T + B) / (B - T), 0, 1};
        glUniformMatrix4fv(ProjectionLocation, 1, GL_FALSE, projection);
        glBindVertexArray(VAO);
        glActiveTexture(GL_TEXTURE0);
        for (int n = 0; n < AData->CmdListsCount; ++n) {
            const ImDrawList* list = AData->CmdLists[n];
            glBindBuffer(GL_ARRAY_BUFFER, VBO);
            glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(list->VtxBuffer.Size) * GLsizeiptr(sizeof(ImDrawVert)),
                         list->VtxBuffer.Data, GL_STREAM_DRAW);
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, IBO);
            glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(list->IdxBuffer.Size) * GLsizeiptr(sizeof(ImDrawIdx)),
                         list->IdxBuffer.Data, GL_STREAM_DRAW);
            for (const ImDrawCmd& cmd : list->CmdBuffer) {
                if (cmd.UserCallback) continue;
                const ImVec4 clip = cmd.ClipRect;
                if (clip.z <= clip.x || clip.w <= clip.y) continue;
                glScissor(int(clip.x), int(float(AHeight) - clip.w), int(clip.z - clip.x), int(clip.w - clip.y));
                GLuint texture = static_cast<GLuint>(reinterpret_cast<intptr_t>(cmd.GetTexID()));
                glBindTexture(GL_TEXTURE_2D, texture ? texture : WhiteTexture);
                glDrawElementsBaseVertex(GL_TRIANGLES, GLsizei(cmd.ElemCount),
                                         sizeof(ImDrawIdx) == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                                         reinterpret_cast<void*>(intptr_t(cmd.IdxOffset * sizeof(ImDrawIdx))),
                                         GLint(cmd.VtxOffset));
            }
        }
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        glUseProgram(0);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_BLEND);
        if (!FrameTextures.empty()) glDeleteTextures(GLsizei(FrameTextures.size()), FrameTextures.data());
        FrameTextures.clear();
    }
};

TPainterResources& Painter()
{
    static TPainterResources resources;
    return resources;
}

// Control painting into an ImGui draw list.
class TImGuiPainter : public TControlPainter {
public:
    explicit TImGuiPainter(ImDrawList* AList) : FList(AList) {}

    void FillRect(const TRectF& R, TAlphaColor AColor, float ARadius) override
    {
        FList->AddRectFilled(ImVec2(R.Left, R.Top), ImVec2(R.Right, R.Bottom), ToImColor(AColor), ARadius);
    }
    void FrameRect(const TRectF& R, TAlphaColor AColor, float AThickness) override
    {
        FList->AddRect(ImVec2(R.Left + 0.5f, R.Top + 0.5f), ImVec2(R.Right - 0.5f, R.Bottom - 0.5f),
                       ToImColor(AColor), 0, 0, AThickness);
    }
    void DrawText(const TRectF& R, const std::string& AText, TAlphaColor AColor, TTextAlign AHorz,
                  TTextAlign AVert) override
    {
        if (AText.empty()) return;
        ImFont* font = ImGui::GetFont();
        const ImVec2 size = font->CalcTextSizeA(FontSize, R.Width(), 0, AText.c_str());
        float x = R.Left, y = R.Top;
        if (AHorz == TTextAlign::Center) x += (R.Width() - size.x) / 2;
        else if (AHorz == TTextAlign::Trailing) x = R.Right - size.x;
        if (AVert == TTextAlign::Center) y += (R.Height() - size.y) / 2;
        else if (AVert == TTextAlign::Trailing) y = R.Bottom - size.y;
        FList->PushClipRect(ImVec2(R.Left, R.Top), ImVec2(R.Right, R.Bottom), true);
        FList->AddText(font, FontSize, ImVec2(float(int(x)), float(int(y))), ToImColor(AColor), AText.c_str());
        FList->PopClipRect();
    }
    void DrawBitmap(const TRectF& R, const TBitmap& ABitmap, float AOpacity) override
    {
        if (ABitmap.IsEmpty()) return;
        TBitmapData data;
        auto& bitmap = const_cast<TBitmap&>(ABitmap);
        if (!bitmap.Map(TMapAccess::Read, data)) return;
        // Rows of our bitmaps are BGRA, top row first: upload as they are.
        GLuint t = 0;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, data.Pitch / TBitmapData::BytesPerPixel);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, data.Width, data.Height, 0, GL_BGRA, GL_UNSIGNED_BYTE, data.Data);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        bitmap.Unmap(data);
        Painter().FrameTextures.push_back(t);
        FList->AddImage(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(t)), ImVec2(R.Left, R.Top),
                        ImVec2(R.Right, R.Bottom), ImVec2(0, 0), ImVec2(1, 1), ToImColor(0xFFFFFFFF, AOpacity));
    }
    void PushClip(const TRectF& R) override
    {
        FList->PushClipRect(ImVec2(R.Left, R.Top), ImVec2(R.Right, R.Bottom), true);
    }
    void PopClip() override { FList->PopClipRect(); }

private:
    ImDrawList* FList;
};

// Paints the form into whatever frame buffer is bound, at the form's size.
void RenderForm(TForm& AForm, int AWidth, int AHeight)
{
    auto& painter = Painter();
    painter.Ensure();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(float(AWidth), float(AHeight));
    io.DeltaTime = 1.0f / 60.0f;
    ImGui::NewFrame();
    TImGuiPainter p(ImGui::GetBackgroundDrawList());
    AForm.PaintControls(p);
    ImGui::Render();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    painter.Render(ImGui::GetDrawData(), AWidth, AHeight);
}

// Reads the bound frame buffer (rows bottom first) into a BGRA bitmap (rows top first).
void ReadInto(TBitmap& ABitmap, int AWidth, int AHeight)
{
    std::vector<uint8_t> rows(size_t(AWidth) * size_t(AHeight) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, AWidth, AHeight, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
    ABitmap.SetSize(AWidth, AHeight);
    TBitmapData data;
    if (!ABitmap.Map(TMapAccess::Write, data)) return;
    for (int y = 0; y < AHeight; ++y)
        std::memcpy(data.GetScanline(y), rows.data() + size_t(AHeight - 1 - y) * size_t(AWidth) * 4, size_t(AWidth) * 4);
    ABitmap.Unmap(data);
}

// ---------------------------------------------------------------- GLFW

bool GDisplayOpen = false;
// The left Alt key as the last mouse event found it.
bool GLeftAltDown = false;

TShiftState ShiftOf(GLFWwindow* AWindow)
{
    TShiftState s;
    GLeftAltDown = glfwGetKey(AWindow, GLFW_KEY_LEFT_ALT) == GLFW_PRESS;
    if (glfwGetKey(AWindow, GLFW_KEY_LEFT_SHIFT) == GLFW_PRESS || glfwGetKey(AWindow, GLFW_KEY_RIGHT_SHIFT) == GLFW_PRESS)
        s.Include(ssShift);
    if (glfwGetKey(AWindow, GLFW_KEY_LEFT_CONTROL) == GLFW_PRESS ||
        glfwGetKey(AWindow, GLFW_KEY_RIGHT_CONTROL) == GLFW_PRESS)
        s.Include(ssCtrl);
    if (glfwGetKey(AWindow, GLFW_KEY_LEFT_ALT) == GLFW_PRESS || glfwGetKey(AWindow, GLFW_KEY_RIGHT_ALT) == GLFW_PRESS)
        s.Include(ssAlt);
    if (glfwGetMouseButton(AWindow, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS) s.Include(ssLeft);
    if (glfwGetMouseButton(AWindow, GLFW_MOUSE_BUTTON_RIGHT) == GLFW_PRESS) s.Include(ssRight);
    if (glfwGetMouseButton(AWindow, GLFW_MOUSE_BUTTON_MIDDLE) == GLFW_PRESS) s.Include(ssMiddle);
    return s;
}

TForm* FormOf(GLFWwindow* AWindow) { return static_cast<TForm*>(glfwGetWindowUserPointer(AWindow)); }

// Input handlers run form code: a failure is logged, never thrown through the window system.
template <class F>
void Dispatch(GLFWwindow* AWindow, F&& AWork)
{
    TForm* form = FormOf(AWindow);
    if (!form) return;
    try {
        AWork(*form);
    } catch (const std::exception& e) {
        Log::d(std::string("<ERROR> ") + e.what());
    }
}

void CursorPosCallback(GLFWwindow* W, double X, double Y)
{
    Dispatch(W, [&](TForm& f) { f.MouseMoveAt(ShiftOf(W), float(X), float(Y)); });
}

void MouseButtonCallback(GLFWwindow* W, int AButton, int AAction, int)
{
    const TMouseButton button = AButton == GLFW_MOUSE_BUTTON_RIGHT    ? TMouseButton::mbRight
                                : AButton == GLFW_MOUSE_BUTTON_MIDDLE ? TMouseButton::mbMiddle
                                                                      : TMouseButton::mbLeft;
    double x = 0, y = 0;
    glfwGetCursorPos(W, &x, &y);
    Dispatch(W, [&](TForm& f) {
        if (AAction == GLFW_PRESS) f.MouseDownAt(button, ShiftOf(W), float(x), float(y));
        else f.MouseUpAt(button, ShiftOf(W), float(x), float(y));
    });
}

void CloseCallback(GLFWwindow* W)
{
    glfwSetWindowShouldClose(W, GLFW_FALSE);
    Dispatch(W, [](TForm& f) { f.Close(); });
}

void RefreshCallback(GLFWwindow* W)
{
    Dispatch(W, [](TForm& f) { f.InvalidateForm(); });
}

} // namespace

// ---------------------------------------------------------------- forms_platform

namespace forms_platform {

bool OpenDisplay()
{
    if (GDisplayOpen) return true;
    if (!glfwInit()) return false;
    auto& device = platform::EGLDevice::Instance();
    try {
        device.UseX11Display(glfwGetX11Display());
    } catch (const std::exception& e) {
        Log::d(std::string("<WARNING> ") + e.what());
        glfwTerminate();
        return false;
    }
    GDisplayOpen = true;
    KeyIsDown = [](TKeyboardKey AKey) { return AKey == TKeyboardKey::LeftAlt && GLeftAltDown; };
    return true;
}

void CloseDisplay()
{
    if (!GDisplayOpen) return;
    glfwTerminate();
    GDisplayOpen = false;
    GLeftAltDown = false;
    KeyIsDown = [](TKeyboardKey) { return false; };
}

void PumpEvents(int AMaxWaitMs)
{
    if (!GDisplayOpen) return;
    if (AMaxWaitMs <= 0) glfwPollEvents();
    else glfwWaitEventsTimeout(double(AMaxWaitMs) / 1000.0);
}

void Wake()
{
    if (GDisplayOpen) glfwPostEmptyEvent();
}

void ReleasePainter()
{
    auto& p = Painter();
    if (!p.Context) return;
    if (platform::EGLDevice::Instance().HasContext()) {
        platform::EGLDevice::Instance().MakeCurrent();
        const GLuint textures[] = {p.FontTexture, p.WhiteTexture};
        glDeleteTextures(2, textures);
        glDeleteBuffers(1, &p.VBO);
        glDeleteBuffers(1, &p.IBO);
        glDeleteVertexArrays(1, &p.VAO);
        glDeleteProgram(p.Program);
    }
    ImGui::DestroyContext(p.Context);
    p = TPainterResources();
}

void RenderFormToBitmap(TForm& AForm, TBitmap& ABitmap)
{
    Painter().Ensure();
    const int w = std::max(1, AForm.ClientWidth()), h = std::max(1, AForm.ClientHeight());
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    GLuint fbo = 0, color = 0;
    glGenFramebuffers(1, &fbo);
    glGenRenderbuffers(1, &color);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    RenderForm(AForm, w, h);
    ReadInto(ABitmap, w, h);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    glDeleteRenderbuffers(1, &color);
    glDeleteFramebuffers(1, &fbo);
}

} // namespace forms_platform

// ---------------------------------------------------------------- TFormWindow

struct TFormWindow::TImpl {
    TForm& Form;
    GLFWwindow* Window = nullptr;
    void* Surface = nullptr;
    TOwned<TBitmap> LastFrame = MakeOwned<TBitmap>();
    explicit TImpl(TForm& AForm) : Form(AForm) {}
};

TFormWindow::TFormWindow(TForm& AForm) : FImpl(std::make_unique<TImpl>(AForm))
{
    if (!forms_platform::OpenDisplay()) throw EInvalidOperation("no display to show a form on");
    glfwWindowHint(GLFW_CLIENT_API, GLFW_NO_API);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    const int w = std::max(1, AForm.ClientWidth()), h = std::max(1, AForm.ClientHeight());
    FImpl->Window = glfwCreateWindow(w, h, AForm.Caption().c_str(), nullptr, nullptr);
    if (!FImpl->Window) throw EInvalidOperation("cannot create a window");
    glfwSetWindowUserPointer(FImpl->Window, &AForm);
    glfwSetCursorPosCallback(FImpl->Window, CursorPosCallback);
    glfwSetMouseButtonCallback(FImpl->Window, MouseButtonCallback);
    glfwSetWindowCloseCallback(FImpl->Window, CloseCallback);
    glfwSetWindowRefreshCallback(FImpl->Window, RefreshCallback);
    auto& device = platform::EGLDevice::Instance();
    if (!device.HasContext()) device.CreateContext();
    FImpl->Surface = device.CreateWindowSurface(static_cast<unsigned long>(glfwGetX11Window(FImpl->Window)));
}

TFormWindow::~TFormWindow()
{
    auto& device = platform::EGLDevice::Instance();
    if (FImpl->Surface) device.DestroySurface(FImpl->Surface);
    if (FImpl->Window) glfwDestroyWindow(FImpl->Window);
}

void TFormWindow::SetCaption(const std::string& ACaption) { glfwSetWindowTitle(FImpl->Window, ACaption.c_str()); }

void TFormWindow::SetClientSize(int AWidth, int AHeight) { glfwSetWindowSize(FImpl->Window, AWidth, AHeight); }

void TFormWindow::Paint()
{
    auto& device = platform::EGLDevice::Instance();
    int w = 0, h = 0;
    glfwGetFramebufferSize(FImpl->Window, &w, &h);
    if (w <= 0 || h <= 0) return;
    device.MakeCurrentOn(FImpl->Surface);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
    RenderForm(FImpl->Form, w, h);
    ReadInto(*FImpl->LastFrame, w, h);
    device.SwapBuffers(FImpl->Surface);
    // Offscreen work goes on without a surface, as before the window was shown.
    device.MakeCurrent();
}

void TFormWindow::Screenshot(TBitmap& ABitmap) const { ABitmap.Assign(FImpl->LastFrame.get()); }

unsigned long TFormWindow::NativeId() const { return static_cast<unsigned long>(glfwGetX11Window(FImpl->Window)); }

} // namespace korvane
