#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Platform.ClassRegistry.h"

namespace korvane {
namespace registry_test {

enum class TMode : uint8_t { Off, Slow, Fast };

struct TSizeF {
    float W = 0, H = 0;
    bool operator==(const TSizeF&) const = default;
};

class TWidget : public TComponent {
    KORVANE_CLASS(TWidget, TComponent)
    using TComponent::TComponent;

    bool Visible() const { return FVisible; }
    void SetVisible(bool v) { FVisible = v; }
    float Opacity() const { return FOpacity; }
    void SetOpacity(float v) { FOpacity = v; }
    int Count() const { return 7; }
    TComponent* Partner() const { return FPartner; }
    void SetPartner(TComponent* v) { FPartner = v; }

    TMode FMode = TMode::Off;
    TSizeF FSize;
    std::string FCaption;

private:
    bool FVisible = true;
    float FOpacity = 1;
    TComponent* FPartner = nullptr;
};

// Redeclares Opacity with another default.
class TPushButton : public TWidget {
    KORVANE_CLASS(TPushButton, TWidget)
    using TWidget::TWidget;
};

class TAbstractShape : public TComponent {
    KORVANE_CLASS(TAbstractShape, TComponent)
    using TComponent::TComponent;
    virtual double Area() const = 0;
};

class TSettings : public TPersistent {
    KORVANE_CLASS(TSettings, TPersistent)
    int FLevel = 3;
};

// A metaclass with a class function of its own.
class TWidgetClass : public TMetaClass {
public:
    using TMetaClass::TMetaClass;
    virtual std::string Describe() const { return "widget"; }
};
class TPanel : public TComponent {
    KORVANE_CLASS(TPanel, TComponent)
    using TComponent::TComponent;
};
class TPanelClass : public TClassInfo<TPanel, TWidgetClass> {
public:
    using TClassInfo::TClassInfo;
    std::string Describe() const override { return "panel"; }
};

} // namespace registry_test

KORVANE_ENUM_NAMES(registry_test::TMode, "Off", "Slow", "Fast");

namespace registry_test {

TClass TWidget::StaticClass()
{
    static const TClassInfo<TWidget> info("Tests.Widgets", [](auto& c) {
        c.Property("Visible", &TWidget::Visible, &TWidget::SetVisible, TValue::From(true));
        c.Property("Opacity", &TWidget::Opacity, &TWidget::SetOpacity, TValue::From(1.0f));
        c.Property("Mode", &TWidget::FMode, &TWidget::FMode, TValue::From(TMode::Off));
        c.Property("Size", &TWidget::FSize, &TWidget::FSize, TValue(),
                   [](const TWidget& w) { return w.FSize.W > 0; });
        c.Property("Caption", &TWidget::FCaption, [](TWidget& w, const std::string& v) { w.FCaption = "[" + v + "]"; });
        c.Property("Count", &TWidget::Count);
        c.Property("Partner", &TWidget::Partner, &TWidget::SetPartner);
    });
    return &info;
}
TClass TPushButton::StaticClass()
{
    static const TClassInfo<TPushButton> info("Tests.Widgets", [](auto& c) {
        c.Property("opacity", &TPushButton::Opacity, &TPushButton::SetOpacity, TValue::From(0.5f));
    });
    return &info;
}
KORVANE_IMPLEMENT_CLASS(TAbstractShape, "Tests.Widgets")
KORVANE_IMPLEMENT_CLASS(TSettings, "Tests.Widgets")
TClass TPanel::StaticClass()
{
    static const TPanelClass info("Tests.Widgets");
    return &info;
}

} // namespace registry_test
} // namespace korvane

using namespace korvane;
using namespace korvane::registry_test;

TEST(ClassRegistry, FindsRegisteredClassesByQualifiedOrShortName)
{
    RegisterClasses({TWidget::StaticClass(), TPushButton::StaticClass()});
    RegisterClass<TWidget>(); // again: nothing happens
    EXPECT_EQ(TWidget::StaticClass()->QualifiedClassName(), "Tests.Widgets.TWidget");
    for (const char* name : {"Tests.Widgets.TWidget", "tests.widgets.twidget", "TWidget", "TWIDGET"})
        EXPECT_EQ(FindClass(name), TWidget::StaticClass()) << name;
    EXPECT_EQ(GetClass("TNothing"), nullptr);
    try {
        FindClass("TNothing");
        ADD_FAILURE();
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class TNothing not found");
    }

    // Another class under a taken name is refused.
    static const TClassInfo<TWidget> impostor("Tests.Widgets");
    EXPECT_THROW(RegisterClass(&impostor), EFilerError);
    EXPECT_EQ(FindClass("TWidget"), TWidget::StaticClass());

    UnRegisterClass(TPushButton::StaticClass());
    EXPECT_EQ(GetClass("TPushButton"), nullptr);
    EXPECT_EQ(GetClass("Tests.Widgets.TPushButton"), nullptr);
    UnRegisterClass(TWidget::StaticClass());
}

TEST(ClassRegistry, MetaclassesKnowTheirAncestry)
{
    TClass button = TPushButton::StaticClass();
    EXPECT_EQ(button->ClassParent(), TWidget::StaticClass());
    EXPECT_TRUE(button->InheritsFrom(TComponent::StaticClass()));
    EXPECT_TRUE(button->InheritsFrom(TObject::StaticClass()));
    EXPECT_TRUE(button->InheritsFrom(button));
    EXPECT_FALSE(TWidget::StaticClass()->InheritsFrom(button));
    EXPECT_EQ(TObject::StaticClass()->ClassParent(), nullptr);

    TPushButton b(nullptr);
    const TObject& o = b;
    EXPECT_EQ(o.ClassType(), button);
    EXPECT_EQ(o.ClassName(), "TPushButton");
    EXPECT_TRUE(o.InheritsFrom(TWidget::StaticClass()));
    EXPECT_FALSE(o.InheritsFrom(TCollection::StaticClass()));
}

TEST(ClassRegistry, FactoriesCreateInstancesOfTheRightClass)
{
    TComponent owner(nullptr);
    TComponent* made = TPushButton::StaticClass()->CreateComponent(&owner);
    EXPECT_NE(dynamic_cast<TPushButton*>(made), nullptr);
    EXPECT_EQ(made->Owner(), &owner);

    std::unique_ptr<TObject> settings(TSettings::StaticClass()->CreateInstance());
    ASSERT_NE(dynamic_cast<TSettings*>(settings.get()), nullptr);
    EXPECT_EQ(static_cast<TSettings*>(settings.get())->FLevel, 3);

    try {
        TAbstractShape::StaticClass()->CreateComponent(&owner);
        ADD_FAILURE();
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "Cannot create an instance of TAbstractShape");
    }
    EXPECT_THROW(TSettings::StaticClass()->CreateComponent(&owner), EInvalidOperation);
    EXPECT_THROW(TPushButton::StaticClass()->CreateCollectionItem(nullptr), EInvalidOperation);

    const auto* panelClass = dynamic_cast<const TWidgetClass*>(TPanel::StaticClass());
    ASSERT_NE(panelClass, nullptr);
    EXPECT_EQ(panelClass->Describe(), "panel");
}

TEST(ClassRegistry, PropertiesReadAndWriteThroughTValue)
{
    TWidget w(nullptr), partner(nullptr);
    TClass cls = TWidget::StaticClass();
    auto prop = [&](const char* name) {
        const TPropertyInfo* p = cls->FindProperty(name);
        EXPECT_NE(p, nullptr) << name;
        return p;
    };

    prop("visible")->SetValue(&w, TValue::From(false));
    EXPECT_FALSE(w.Visible());
    prop("Opacity")->SetValue(&w, TValue::From(0.25f));
    EXPECT_EQ(w.Opacity(), 0.25f);
    prop("Mode")->SetValue(&w, TValue::From(TMode::Fast));
    EXPECT_EQ(w.FMode, TMode::Fast);
    EXPECT_EQ(prop("Mode")->GetValue(&w).ToString(), "Fast");
    prop("Size")->SetValue(&w, TValue::From(TSizeF{2, 3}));
    EXPECT_EQ(prop("Size")->GetValue(&w).AsType<TSizeF>(), (TSizeF{2, 3}));
    prop("Caption")->SetValue(&w, TValue::From("Go"));
    EXPECT_EQ(prop("Caption")->GetValue(&w).AsString(), "[Go]");
    prop("Partner")->SetValue(&w, TValue::From(&partner));
    EXPECT_EQ(w.Partner(), &partner);
    prop("Name")->SetValue(&w, TValue::From("Widget1")); // inherited from TComponent
    EXPECT_EQ(w.Name(), "Widget1");
    EXPECT_EQ(prop("Tag")->GetValue(&w).AsInt64(), 0);

    // Kinds and type names come from the accessors.
    EXPECT_EQ(prop("Opacity")->Kind(), tkFloat);
    EXPECT_EQ(prop("Opacity")->TypeName(), "Single");
    EXPECT_EQ(prop("Mode")->Kind(), tkEnumeration);
    EXPECT_EQ(prop("Size")->Kind(), tkRecord);
    EXPECT_EQ(prop("Size")->TypeName(), "TSizeF");
    EXPECT_EQ(prop("Partner")->Kind(), tkClass);
    EXPECT_EQ(prop("Partner")->TypeName(), "TComponent");
    EXPECT_EQ(prop("Count")->Kind(), tkInteger);
    EXPECT_TRUE(prop("Count")->IsReadOnly());
    EXPECT_EQ(cls->FindProperty("Missing"), nullptr);
}

TEST(ClassRegistry, PropertyErrors)
{
    TWidget w(nullptr);
    TSettings s;
    TClass cls = TWidget::StaticClass();
    EXPECT_THROW(cls->FindProperty("Count")->SetValue(&w, TValue::From(1)), EPropertyError);
    EXPECT_EQ(cls->FindProperty("Count")->GetValue(&w).AsInteger(), 7);
    EXPECT_THROW(cls->FindProperty("Visible")->SetValue(&w, TValue::From("yes")), EInvalidCast);
    EXPECT_THROW(cls->FindProperty("Mode")->SetValue(&w, TValue::From(2)), EInvalidCast);
    EXPECT_THROW(cls->FindProperty("Partner")->SetValue(&w, TValue::From(&s)), EInvalidCast);
    EXPECT_THROW(cls->FindProperty("Visible")->GetValue(&s), EPropertyError);
    EXPECT_THROW(cls->FindProperty("Visible")->GetValue(nullptr), EPropertyError);
    EXPECT_TRUE(w.Visible());
}

TEST(ClassRegistry, DefaultsStoredRulesAndRedeclaredProperties)
{
    TWidget w(nullptr);
    TClass cls = TWidget::StaticClass();
    const TPropertyInfo* visible = cls->FindProperty("Visible");
    EXPECT_TRUE(visible->IsDefault(&w));
    w.SetVisible(false);
    EXPECT_FALSE(visible->IsDefault(&w));
    EXPECT_FALSE(cls->FindProperty("Caption")->IsDefault(&w)); // no default: never default

    const TPropertyInfo* size = cls->FindProperty("Size");
    EXPECT_FALSE(size->IsStored(&w));
    w.FSize = {1, 1};
    EXPECT_TRUE(size->IsStored(&w));
    EXPECT_TRUE(visible->IsStored(&w));

    // The redeclared Opacity replaces the inherited one in place, keeping order.
    TPushButton b(nullptr);
    const auto all = TPushButton::StaticClass()->Properties();
    std::vector<std::string> names;
    for (const auto* p : all) names.push_back(p->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Tag", "Visible", "opacity", "Mode", "Size", "Caption", "Count",
                                               "Partner"}));
    const TPropertyInfo* opacity = TPushButton::StaticClass()->FindProperty("Opacity");
    EXPECT_EQ(opacity->Default(), TValue::From(0.5f));
    EXPECT_FALSE(opacity->IsDefault(&b));
    EXPECT_TRUE(cls->FindProperty("Opacity")->IsDefault(&b));
}
