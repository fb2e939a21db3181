#include "Unit1.h"

#include <string>

#include "Korvane.Camera.h"
#include "Korvane.Light.h"
#include "Korvane.Material.SplatMap.h"
#include "Korvane.Plane.h"
#include "Korvane.Viewport.h"
#include "Platform.Bitmaps.h"
#include "Platform.Canvas.h"
#include "Platform.ClassRegistry.h"
#include "Platform.Controls3D.h"
#include "Platform.FormResources.h"
#include "Platform.SysUtils.h"

namespace korvane {

TClass TForm2::StaticClass()
{
    static const TClassInfo<TForm2> info("Unit1", [](auto& c) {
        c.Method("FormCreate", &TForm2::FormCreate);
        c.Method("FormShow", &TForm2::FormShow);
        c.Method("Button1Click", &TForm2::Button1Click);
        c.Method("PaintBox1MouseDown", &TForm2::PaintBox1MouseDown);
        c.Method("PaintBox1MouseMove", &TForm2::PaintBox1MouseMove);
        c.Method("PaintBox1MouseUp", &TForm2::PaintBox1MouseUp);
        c.Method("Timer1Timer", &TForm2::Timer1Timer);
    });
    return &info;
}

namespace {

// The component of that name and class; a resource without it cannot run the demo.
template <class T>
T* Bind(TComponent* ARoot, const char* AName)
{
    auto* component = dynamic_cast<T*>(ARoot->FindComponent(AName));
    if (!component)
        throw EFormReadError(Format("%s: component %s of class %s missing", ARoot->ClassName(), AName,
                                    T::StaticClassName()),
                             0);
    return component;
}

} // namespace

void TForm2::Loaded()
{
    TForm::Loaded();
    KorvaneViewport1 = Bind<TKorvaneViewport>(this, "KorvaneViewport1");
    Dummy1 = Bind<TDummy>(this, "Dummy1");
    KorvaneCamera1 = Bind<TKorvaneCamera>(this, "KorvaneCamera1");
    KorvaneLight1 = Bind<TKorvaneLight>(this, "KorvaneLight1");
    KorvanePlane1 = Bind<TKorvanePlane>(this, "KorvanePlane1");
    KorvaneSplatMapMaterialSource1 = Bind<TKorvaneSplatMapMaterialSource>(this, "KorvaneSplatMapMaterialSource1");
    Timer1 = Bind<TTimer>(this, "Timer1");
    Panel1 = Bind<TPanel>(this, "Panel1");
    ComboBox1 = Bind<TComboBox>(this, "ComboBox1");
    Label1 = Bind<TLabel>(this, "Label1");
    PaintBox1 = Bind<TImage>(this, "PaintBox1");
    Button1 = Bind<TButton>(this, "Button1");
}

void TForm2::FormCreate(TObject*) { FTicker = TStopwatch::Create(); }

void TForm2::FormShow(TObject*) { ClearSplatMap(); }

void TForm2::Button1Click(TObject*) { ClearSplatMap(); }

void TForm2::PaintBox1MouseDown(TObject*, TMouseButton, TShiftState, float, float)
{
    FMove = true;
    FTicker.Start();
}

TAlphaColor TForm2::BrushColor(int AItemIndex)
{
    switch (AItemIndex) {
    case 0: return TAlphaColor(0xFFFF0000);
    case 1: return TAlphaColor(0xFF008000);
    case 2: return TAlphaColor(0xFF0000FF);
    default: return TAlphaColor(0xFF000000);
    }
}

void TForm2::PaintBox1MouseMove(TObject*, TShiftState Shift, float X, float Y)
{
    if (!FMove) return;
    if (!Shift.Contains(ssLeft)) return;
    TCanvas* canvas = PaintBox1->Bitmap()->Canvas();
    if (canvas->BeginScene()) {
        canvas->Fill.Color = BrushColor(ComboBox1->ItemIndex());
        canvas->FillRect(TRectF(X - 8, Y - 8, X + 8, Y + 8), 4, 4, AllCorners, 1, TCornerType::Round);
        canvas->EndScene();
    }
    // The pressed time is never reset: once the button has been held long
    // enough in total, every move uploads; until then only releases do.
    if (FTicker.ElapsedMilliseconds() > UploadDelayMs) UploadSplatMap();
}

void TForm2::PaintBox1MouseUp(TObject*, TMouseButton, TShiftState, float, float)
{
    FTicker.Stop();
    FMove = false;
    UploadSplatMap();
}

void TForm2::Timer1Timer(TObject*)
{
    Dummy1->RotationAngle().SetY(Dummy1->RotationAngle().Y() + 1);
}

void TForm2::ClearSplatMap()
{
    TOwned<TBitmap> bitmap = MakeOwned<TBitmap>(SplatMapSize, SplatMapSize);
    TCanvas* canvas = bitmap->Canvas();
    if (canvas->BeginScene()) {
        canvas->Fill.Color = TAlphaColor(0xFF000000);
        canvas->FillRect(PaintBox1->LocalRect(), 0, 0, AllCorners, 1);
        canvas->EndScene();
    }
    PaintBox1->SetBitmap(bitmap.get());
    UploadSplatMap();
}

void TForm2::UploadSplatMap()
{
    KorvaneSplatMapMaterialSource1->SetTexture(PaintBox1->Bitmap());
    ++FUploads;
}

} // namespace korvane

namespace korvane::units {

// The demo's embedded files (its form and terrain images) and its form class.
void DemoUnit1Initialize()
{
    ::RegisterDemoResources();
    RegisterClass<TForm2>();
}

void DemoUnit1Finalize() { UnRegisterClass(TForm2::StaticClass()); }

} // namespace korvane::units
