#pragma once
// The splat-map painting demo's one form: a terrain plane in a viewport whose
// splat-map material takes its control texture from an image the user paints
// with the mouse. The whole scene comes from the form resource "TForm2.form";
// the class adds the handlers the resource binds and two helpers.

#include <cstdint>

#include "Platform.Forms.h"
#include "Platform.Threads.h"

namespace korvane {

class TKorvaneViewport;
class TKorvaneCamera;
class TKorvaneLight;
class TKorvanePlane;
class TKorvaneSplatMapMaterialSource;
class TDummy;
class TPanel;
class TComboBox;
class TLabel;
class TImage;
class TButton;
class TTimer;

class TForm2 : public TForm {
    KORVANE_CLASS(TForm2, TForm)

    explicit TForm2(TComponent* AOwner) : TForm(AOwner) {}

    // The components of the resource, bound by name once it is read.
    TKorvaneViewport* KorvaneViewport1 = nullptr;
    TDummy* Dummy1 = nullptr;
    TKorvaneCamera* KorvaneCamera1 = nullptr;
    TKorvaneLight* KorvaneLight1 = nullptr;
    TKorvanePlane* KorvanePlane1 = nullptr;
    TKorvaneSplatMapMaterialSource* KorvaneSplatMapMaterialSource1 = nullptr;
    TTimer* Timer1 = nullptr;
    TPanel* Panel1 = nullptr;
    TComboBox* ComboBox1 = nullptr;
    TLabel* Label1 = nullptr;
    TImage* PaintBox1 = nullptr;
    TButton* Button1 = nullptr;

    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void Button1Click(TObject* Sender);
    void PaintBox1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void PaintBox1MouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void PaintBox1MouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void Timer1Timer(TObject* Sender);

    // How often the painted image has been handed to the material (diagnostics).
    int64_t UploadCount() const { return FUploads; }
    // Whether a stroke is in progress.
    bool Moving() const { return FMove; }

    // The paint colour of a combo-box index: red, half green, blue, else black.
    static TAlphaColor BrushColor(int AItemIndex);
    // Pressed time after which every move uploads, in milliseconds.
    static constexpr int64_t UploadDelayMs = 250;
    // The side of the painted image, in pixels.
    static constexpr int SplatMapSize = 320;

protected:
    void Loaded() override;

private:
    void ClearSplatMap();
    void UploadSplatMap();

    bool FMove = false;
    TStopwatch FTicker;
    int64_t FUploads = 0;
};

} // namespace korvane

// Registers the embedded files of the demo (the build generates it).
void RegisterDemoResources();
