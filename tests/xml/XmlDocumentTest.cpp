#include "support/TestEnv.h"
#include "xml/XmlDocument.h"

class XmlDocumentTest : public TempDirTest {
protected:
    TXmlDocument LoadText(const QByteArray& text)
    {
        WriteAll(Path(QStringLiteral("doc.xml")), text);
        return TXmlDocument::Load(Path(QStringLiteral("doc.xml")));
    }
};

TEST_F(XmlDocumentTest, SavesDeclarationAndNoAddedWhitespace)
{
    TXmlDocument document(QStringLiteral("1.0"));
    document.SetEncoding(QStringLiteral("UTF-8"));
    TXmlNode root = document.AddDocumentElement(QStringLiteral("Zuvora"));
    TXmlDocument::SetAttribute(root, QStringLiteral("Version"), QStringLiteral("1.0.0"));
    TXmlDocument::SetText(TXmlDocument::AddChild(root, QStringLiteral("Zvk")), QStringLiteral("a.zvk"));
    TXmlDocument::AddChild(root, QStringLiteral("Zvk"));
    document.Save(Path(QStringLiteral("out.xml")));

    EXPECT_EQ(ReadAll(Path(QStringLiteral("out.xml"))),
              QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                         "<Zuvora Version=\"1.0.0\"><Zvk>a.zvk</Zvk><Zvk/></Zuvora>"));
}

TEST_F(XmlDocumentTest, IndentedAndCompactFilesGiveTheSameChildren)
{
    const TXmlDocument compact = LoadText("<r><a>1</a><b><c>2</c></b></r>");
    const TXmlDocument indented = LoadText("<?xml version=\"1.0\"?>\r\n<r>\n  <a>1</a>\n\t<b>\n    <c>2</c>\n  </b>\n</r>\n");
    for (const TXmlDocument* document : {&compact, &indented}) {
        const TXmlNodeList children = TXmlDocument::ChildNodes(document->DocumentElement());
        ASSERT_EQ(children.count(), 2);
        EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByIndex(children, 0)), QStringLiteral("1"));
        const TXmlNode b = TXmlDocument::ChildByIndex(children, 1);
        EXPECT_EQ(TXmlDocument::ChildNodes(b).count(), 1);
        EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(b, QStringLiteral("c"))), QStringLiteral("2"));
    }
}

TEST_F(XmlDocumentTest, AMissingChildReadsAsEmptyAndIsNeverAdded)
{
    const TXmlDocument document = LoadText("<r><a>1</a></r>");
    TXmlNode root = document.DocumentElement();
    const TXmlNode missing = TXmlDocument::ChildByName(root, QStringLiteral("missing"));
    EXPECT_TRUE(missing.IsNull());
    EXPECT_EQ(TXmlDocument::Text(missing), QString());
    EXPECT_EQ(TXmlDocument::ChildNodes(missing).count(), 0);
    EXPECT_TRUE(TXmlDocument::ChildByName(missing, QStringLiteral("deeper")).IsNull());
    EXPECT_EQ(TXmlDocument::ChildNodes(root).count(), 1);
    EXPECT_THROW(TXmlDocument::AddChild(missing, QStringLiteral("x")), TXmlError);
    // The first element of the name wins, also over a later duplicate.
    const TXmlDocument twice = LoadText("<r><a>1</a><a>2</a></r>");
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(twice.DocumentElement(), QStringLiteral("a"))),
              QStringLiteral("1"));
}

TEST_F(XmlDocumentTest, TextOfMixedOrNestedContentIsAnError)
{
    const TXmlDocument document = LoadText(
        "<r><nested><x/></nested><mixed>a<x/>b</mixed><comment><!--c--></comment>"
        "<cdata><![CDATA[ <raw> ]]></cdata><empty/><spaces>  padded  </spaces><!--top--></r>");
    TXmlNode root = document.DocumentElement();
    EXPECT_THROW(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("nested"))), TXmlError);
    EXPECT_THROW(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("mixed"))), TXmlError);
    EXPECT_THROW(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("comment"))), TXmlError);
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("cdata"))), QStringLiteral(" <raw> "));
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("empty"))), QString());
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(root, QStringLiteral("spaces"))), QStringLiteral("  padded  "));
    // A node that is not an element gives its value.
    const TXmlNodeList children = TXmlDocument::ChildNodes(root);
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByIndex(children, children.count() - 1)), QStringLiteral("top"));
}

TEST_F(XmlDocumentTest, ChildIndexOutsideTheListIsAnError)
{
    const TXmlDocument document = LoadText("<r><a/></r>");
    const TXmlNodeList children = TXmlDocument::ChildNodes(document.DocumentElement());
    EXPECT_NO_THROW(TXmlDocument::ChildByIndex(children, 0));
    EXPECT_THROW(TXmlDocument::ChildByIndex(children, 1), TXmlError);
    EXPECT_THROW(TXmlDocument::ChildByIndex(children, -1), TXmlError);
}

TEST_F(XmlDocumentTest, SetTextReplacesAllContent)
{
    TXmlDocument document;
    TXmlNode root = document.AddDocumentElement(QStringLiteral("r"));
    TXmlDocument::AddChild(root, QStringLiteral("x"));
    TXmlDocument::SetText(root, QStringLiteral("only"));
    EXPECT_EQ(TXmlDocument::Text(root), QStringLiteral("only"));
    TXmlDocument::SetAttribute(root, QStringLiteral("V"), QStringLiteral("1"));
    TXmlDocument::SetAttribute(root, QStringLiteral("V"), QStringLiteral("2"));
    EXPECT_EQ(root.Attribute(QStringLiteral("V")), QStringLiteral("2"));
    EXPECT_EQ(root.AttributeCount(), 1);
}

TEST_F(XmlDocumentTest, NonAsciiTextRoundTripsAsUtf8)
{
    const QString text = QStringLiteral("Chat \u00e9t\u00e9 \u732b \U0001F408 <&> \"'");
    TXmlDocument document;
    document.SetEncoding(QStringLiteral("UTF-8"));
    TXmlNode root = document.AddDocumentElement(QStringLiteral("r"));
    TXmlDocument::SetText(TXmlDocument::AddChild(root, QStringLiteral("n")), text);
    document.Save(Path(QStringLiteral("u.xml")));

    EXPECT_TRUE(ReadAll(Path(QStringLiteral("u.xml"))).contains(QStringLiteral("\u732b").toUtf8()));
    const TXmlDocument back = TXmlDocument::Load(Path(QStringLiteral("u.xml")));
    EXPECT_EQ(TXmlDocument::Text(TXmlDocument::ChildByName(back.DocumentElement(), QStringLiteral("n"))), text);
}

TEST_F(XmlDocumentTest, LoadFailuresRaise)
{
    EXPECT_THROW(TXmlDocument::Load(Path(QStringLiteral("absent.xml"))), TXmlError);
    EXPECT_THROW(LoadText("<r><a></r>"), TXmlError);
    EXPECT_THROW(LoadText(""), TXmlError);
    EXPECT_THROW(LoadText(QByteArray("<r>\0</r>", 8)), TXmlError);
    EXPECT_THROW(LoadText("<!-- only -->").DocumentElement(), TXmlError);
}

TEST_F(XmlDocumentTest, FailedSaveLeavesTheOldFile)
{
    WriteAll(Path(QStringLiteral("keep.xml")), "<old/>");
    TXmlDocument document;
    document.AddDocumentElement(QStringLiteral("new"));
    EXPECT_THROW(document.Save(Path(QStringLiteral("no/such/folder/keep.xml"))), TXmlError);
    EXPECT_THROW(document.SetEncoding(QStringLiteral("ISO-8859-1")), TXmlError);
    EXPECT_EQ(ReadAll(Path(QStringLiteral("keep.xml"))), QByteArray("<old/>"));
}

TEST_F(XmlDocumentTest, EntitiesAreExpandedWithinBoundsOrRefused)
{
    // Predefined and character references are text.
    const TXmlDocument plain = LoadText("<r>a &amp; &#x732b; &lt;b&gt;</r>");
    EXPECT_EQ(TXmlDocument::Text(plain.DocumentElement()), QStringLiteral("a & \u732b <b>"));

    // Nested entities that would expand to gigabytes are refused, not expanded.
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"hahahahahahahahahaha\">";
    for (int i = 1; i < 10; ++i)
        laughs += QStringLiteral("<!ENTITY l%1 \"%2\">").arg(i).arg(QStringLiteral("&l%1;").arg(i - 1).repeated(10)).toUtf8();
    laughs += "]><r>&l9;</r>";
    EXPECT_THROW(LoadText(laughs), TXmlError);

    // An entity the document does not declare is an error.
    EXPECT_THROW(LoadText("<r>&undeclared;</r>"), TXmlError);
}

TEST_F(XmlDocumentTest, KeepsCommentsAndProcessingInstructionsAsNodes)
{
    const TXmlDocument document = LoadText("<?xml version=\"1.0\"?><!--before--><r><?pi data?><!--c--><a>x</a></r>");
    const TXmlNodeList children = TXmlDocument::ChildNodes(document.DocumentElement());
    ASSERT_EQ(children.count(), 3);
    EXPECT_EQ(children.at(0).NodeKind(), TXmlNode::Kind::ProcessingInstruction);
    EXPECT_EQ(children.at(1).NodeKind(), TXmlNode::Kind::Comment);
    EXPECT_EQ(TXmlDocument::Text(children.at(1)), QStringLiteral("c"));
    EXPECT_TRUE(children.at(2).IsElement());
    // Nothing can be added under a node that is no element.
    EXPECT_THROW(TXmlDocument::AddChild(children.at(1), QStringLiteral("x")), TXmlError);
    EXPECT_THROW(TXmlDocument::ChildByName(children.at(1), QStringLiteral("x")), TXmlError);
}

TEST_F(XmlDocumentTest, FilesPastTheLimitsAreRefusedCheaply)
{
    constexpr TXmlLimits small{1000, 4, 20, 3};
    const struct {
        QByteArray text;
        bool accepted;
    } cases[] = {
        {"<r>" + QByteArray(994, 'x') + "</r>", false},                    // more than 1,000 bytes
        {"<a><b><c><d/></c></b></a>", true},                               // four deep
        {"<a><b><c><d><e/></d></c></b></a>", false},                       // five deep
        {"<r>" + QByteArray("<a/>").repeated(19) + "</r>", true},          // twenty nodes
        {"<r>" + QByteArray("<a/>").repeated(20) + "</r>", false},
        {"<r a='1' b=\"2=\" c='3'><!-- d=4 e=5 --></r>", true},           // quoted and commented "=" do not count
        {"<r a='1' b='2' c='3' d='4'/>", false},
    };
    for (const auto& c : cases) {
        bool accepted = true;
        try {
            TXmlDocument::Parse(c.text, QStringLiteral("t"), small);
        } catch (const TXmlError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, c.accepted) << c.text.left(60).toStdString();
    }

    // Hostile documents at the real limits: refused quickly and within a little memory.
    QByteArray attributes = "<r";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + QByteArray::number(i) + "='1'";
    attributes += "/>";
    const QByteArray unclosed = QByteArray("<a>").repeated(5'000'000);
    const QByteArray siblings = "<r>" + QByteArray("<a/>").repeated(2'000'000) + "</r>";
    for (const QByteArray* hostile : std::initializer_list<const QByteArray*>{&attributes, &unclosed, &siblings}) {
        EXPECT_TRUE(WithinMemory(256, [hostile] {
            try {
                TXmlDocument::Parse(*hostile);
            } catch (const TXmlError&) {
                return true;
            }
            return false;
        })) << hostile->left(20).toStdString();
    }
    const QString big = Path(QStringLiteral("big.xml"));
    WriteAll(big, "<r>" + QByteArray(kLibraryLimits.MaxBytes, ' ') + "</r>");
    EXPECT_THROW(TXmlDocument::Load(big, kLibraryLimits), TXmlError);
}
