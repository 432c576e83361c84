#include <gtest/gtest.h>

#include <memory>

#include "BaseException.h"
#include "GenericType.h"
#include "Matrix.h"
#include "Source.h"
#include "TestNetwork.h"
#include "Vector.h"

using namespace KOLV;

namespace {

std::string printed(BaseException *e) {
  std::unique_ptr<BaseException> owned(e);
  return e->text();
}

TEST(ObjectRef, CountsReferencesAndDestroysWithTheLast) {
  auto *raw = new Source;
  {
    ObjectRef a(raw);
    EXPECT_EQ(raw->refCount(), 1);
    {
      ObjectRef b = a;
      RCPtr<Source> typed = a;
      EXPECT_EQ(raw->refCount(), 3);
    }
    EXPECT_EQ(raw->refCount(), 1);
  }
}

TEST(ObjectRef, DroppingTheLastVectorReferenceDropsOneOfEachElement) {
  ObjectRef element(new Source);
  {
    RCPtr<Vector<ObjectRef>> v(new Vector<ObjectRef>);
    v->push_back(element);
    v->push_back(element);
    EXPECT_EQ(element->refCount(), 3);
  }
  EXPECT_EQ(element->refCount(), 1);
}

TEST(ObjectRef, TypedReferenceSharesAnObjectOfItsType) {
  ObjectRef generic(new Matrix<float>(2, 3));
  RCPtr<Matrix<float>> typed = generic;
  EXPECT_EQ(typed.get(), static_cast<Object *>(generic.get()) ? typed.get() : nullptr);
  EXPECT_EQ(typed->nrows(), 2);
  EXPECT_EQ(generic->refCount(), 2);
}

TEST(ObjectRef, WrongTypeFailsWithTheFrameworkError) {
  ObjectRef generic(new Matrix<float>(2, 3));
  try {
    RCPtr<Matrix<std::complex<float>>> typed = generic;
    FAIL() << "conversion should fail";
  } catch (BaseException *e) {
    auto *general = dynamic_cast<GeneralException *>(e);
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(general->message(), "Something is wrong in RCPtr::operator=, this should not happen.");
    EXPECT_EQ(general->line(), 69);
    EXPECT_NE(general->file().find("ObjectRef.h"), std::string::npos);
    delete e;
  }
}

TEST(ObjectRef, EmptyReferenceBecomesNilOnlyWhereNilIsAccepted) {
  ObjectRef empty;
  RCPtr<NilObject> nil = empty;
  EXPECT_TRUE(nil->isNil());
  EXPECT_NE(kolvtest::thrownText([&] { RCPtr<Source> s = empty; }), "");
}

TEST(ObjectRef, ConversionDispatchIsAskedForOtherTypes) {
  ConversionDispatch::GetInstance().addConversion(
      typeid(GenericType<int>), typeid(GenericType<float>), [](ObjectRef ref) {
        RCPtr<GenericType<int>> i = ref;
        return ObjectRef(new GenericType<float>(static_cast<float>(i->val())));
      });
  ObjectRef seven(new GenericType<int>(7));
  RCPtr<GenericType<float>> converted = seven;
  EXPECT_EQ(converted->val(), 7.0f);
}

TEST(DereferenceCast, ReadsByExactTypeWithoutConversion) {
  EXPECT_EQ(dereference_cast<int>(kolvtest::intValue(160)), 160);
  EXPECT_EQ(dereference_cast<float>(kolvtest::floatValue(1.5f)), 1.5f);
  EXPECT_EQ(std::string(dereference_cast<String>(kolvtest::stringValue("USE"))), "USE");
}

TEST(DereferenceCast, WrongTypesThrowCastExceptionsWithTheirText) {
  struct Case {
    ObjectRef value;
    std::string expected;
  };
  try {
    dereference_cast<float>(kolvtest::intValue(1));
    FAIL();
  } catch (CastException<float> *e) {
    EXPECT_EQ(printed(e), std::string("Cast error: Trying to cast ObjectRef (") +
                              typeid(GenericType<int>).name() + ") into f");
  }
  try {
    dereference_cast<int>(kolvtest::floatValue(1.0f));
    FAIL();
  } catch (CastException<int> *e) {
    EXPECT_EQ(printed(e), std::string("Cast error: Trying to cast ObjectRef (") +
                              typeid(GenericType<float>).name() + ") into i");
  }
  try {
    dereference_cast<String>(kolvtest::intValue(1));
    FAIL();
  } catch (CastException<String> *e) {
    EXPECT_EQ(printed(e), std::string("Cast error: Trying to cast ObjectRef (") +
                              typeid(GenericType<int>).name() + ") into " + typeid(String).name());
  }
}

TEST(DereferenceCast, EmptyReferenceFailsWithBadTypeid) {
  EXPECT_THROW(dereference_cast<int>(ObjectRef()), std::bad_typeid);
}

TEST(Clone, VectorsCloneTheirElementsAndMatricesTheirData) {
  RCPtr<Vector<ObjectRef>> v(new Vector<ObjectRef>);
  v->push_back(kolvtest::sourceAt(30.0, 0.5f, 4));
  RCPtr<Vector<ObjectRef>> copy = v->clone();
  ASSERT_EQ(copy->size(), 1u);
  EXPECT_NE(copy->at(0).get(), v->at(0).get());
  RCPtr<Source> s = copy->at(0);
  EXPECT_EQ(s->id, 4);

  RCPtr<Matrix<float>> m(new Matrix<float>(1, 2));
  (*m)(0, 1) = 3.0f;
  RCPtr<Matrix<float>> mc = m->clone();
  (*m)(0, 1) = 4.0f;
  EXPECT_EQ((*mc)(0, 1), 3.0f);
}

TEST(Clone, TypesWithoutCloneThrowTheFrameworkError) {
  ObjectRef nil(new NilObject);
  try {
    nil->clone();
    FAIL();
  } catch (GeneralException *e) {
    EXPECT_EQ(e->message().rfind("Method clone() not implemented for this object : ", 0), 0u);
    EXPECT_EQ(e->line(), 105);
    delete e;
  }
}

}  // namespace
